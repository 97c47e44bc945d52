#include "process_facts.h"

#include "dialog_remote.h"
#include "scenarios.h"
#include "text_util.h"

#include <tlhelp32.h>

#include <vector>

namespace {
// Functions newer than the oldest system the kit may meet (or missing in
// Wine) are looked up at run time; nullptr when absent.
template <typename Function> Function Resolve(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr)
        handle = LoadLibraryW(module);
    if (handle == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

void Fact(const wchar_t* name, const std::wstring& value) {
    Out(L"  %-22ls %ls\n", name, value.c_str());
}

struct System {
    std::wstring name;
    bool wine = false;
    bool perMonitorV2 = false; // Windows 10 1703 or later
};

System DescribeSystem() {
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionFn = const char*(CDECL*)();
    System system{L"Windows (version unknown)"};
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (auto get = Resolve<GetVersionFn>(L"ntdll.dll", "RtlGetVersion");
        get && get(&version) == 0) {
        system.name = Format(L"Windows %lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                             version.dwBuildNumber);
        system.perMonitorV2 = version.dwMajorVersion >= 10 && version.dwBuildNumber >= 15063;
    }
    if (auto wine = Resolve<WineVersionFn>(L"ntdll.dll", "wine_get_version")) {
        system.wine = true;
        system.name = Format(L"Wine %hs, reporting ", wine()) + system.name;
    }
    return system;
}

const wchar_t* AwarenessName(int awareness) {
    switch (awareness) {
    case 0:
        return L"unaware";
    case 1:
        return L"system aware";
    case 2:
        return L"per-monitor aware";
    default:
        return L"unknown";
    }
}

// The dialog's awareness as Windows 10 1607+ reports it, else the process's
// (8.1+). Per-monitor is what the manifest asks for, v2 from Windows 10 1703.
// Wine 8 reports per-monitor for the dialog even of an exe whose manifest
// asks for no awareness at all: there it is shown, not checked.
void CheckDpiAwareness(ScenarioContext& c, const ToolProcess& tool, const System& system) {
    using WindowContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
    using AwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    using EqualFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    using ProcessFn = HRESULT(WINAPI*)(HANDLE, int*);
    int awareness = -1;
    bool v2 = false;
    auto windowContext = Resolve<WindowContextFn>(L"user32.dll", "GetWindowDpiAwarenessContext");
    auto fromContext = Resolve<AwarenessFn>(L"user32.dll", "GetAwarenessFromDpiAwarenessContext");
    auto equal = Resolve<EqualFn>(L"user32.dll", "AreDpiAwarenessContextsEqual");
    if (windowContext && fromContext) {
        DPI_AWARENESS_CONTEXT context = windowContext(tool.dialog);
        awareness = int(fromContext(context));
        v2 = equal && equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        Fact(L"dialog DPI awareness", Format(L"%ls%ls (GetWindowDpiAwarenessContext)",
                                             AwarenessName(awareness), v2 ? L" v2" : L""));
    } else {
        Fact(L"dialog DPI awareness", L"not reported (no GetWindowDpiAwarenessContext)");
    }
    int process = -1;
    if (auto get = Resolve<ProcessFn>(L"shcore.dll", "GetProcessDpiAwareness");
        get && SUCCEEDED(get(tool.info.hProcess, &process))) {
        Fact(L"process DPI awareness",
             Format(L"%ls (GetProcessDpiAwareness)", AwarenessName(process)));
        if (awareness < 0)
            awareness = process;
    } else {
        Fact(L"process DPI awareness", L"not reported (no GetProcessDpiAwareness)");
    }
    Fact(L"dialog DPI", Format(L"%u (GetDpiForWindow)", GetDpiForWindow(tool.dialog)));
    if (awareness < 0 || system.wine)
        return;
    bool wantV2 = system.perMonitorV2;
    c.Check(awareness == 2 && (v2 || !wantV2),
            L"the tool is per-monitor DPI aware, as its manifest asks",
            wantV2 ? L"per-monitor aware v2" : L"per-monitor aware",
            Format(L"%ls%ls", AwarenessName(awareness), v2 ? L" v2" : L""));
}

std::wstring FileVersion(const std::wstring& path, int* major) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr)
        return L"(no version resource)";
    *major = int(HIWORD(info->dwFileVersionMS));
    return Format(L"%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
}

// Every comctl32 the tool's process has loaded, with the version resource of
// its file. Version 6 is a file of version 6 or above, or one from the
// side-by-side assembly of Common Controls 6 (Wine's says 5.81 in its
// resource there).
void CheckCommonControls(ScenarioContext& c, const ToolProcess& tool) {
    HANDLE snapshot =
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, tool.info.dwProcessId);
    int newest = 0;
    if (snapshot != INVALID_HANDLE_VALUE) {
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        for (BOOL more = Module32FirstW(snapshot, &module); more;
             more = Module32NextW(snapshot, &module)) {
            if (_wcsicmp(module.szModule, L"comctl32.dll") != 0)
                continue;
            int major = 0;
            std::wstring version = FileVersion(module.szExePath, &major);
            Fact(L"comctl32 loaded", version + L"  " + module.szExePath);
            std::wstring path = module.szExePath;
            CharLowerW(path.data());
            if (Contains(path, L"microsoft.windows.common-controls_") && Contains(path, L"_6.0."))
                major = major > 6 ? major : 6;
            newest = major > newest ? major : newest;
        }
        CloseHandle(snapshot);
    }
    c.Check(newest >= 6, L"the tool loaded Common Controls 6, as its manifest asks", L"6.x",
            newest == 0 ? L"no comctl32 found" : Format(L"%d.x", newest));
}

// The dialog's font as WM_GETFONT and GetObject report it where they cross
// processes (Wine answers 0), and the face this system draws that request
// with: where 宋体 is missing, a substitute.
void ShowDialogFont(const ToolProcess& tool) {
    UINT dpi = GetDpiForWindow(tool.dialog);
    LRESULT handle = 0;
    LOGFONTW font{};
    if (SendBounded(tool.dialog, WM_GETFONT, 0, 0, &handle) && handle != 0 &&
        GetObjectW(reinterpret_cast<HFONT>(handle), sizeof(font), &font) == sizeof(font)) {
        int pixels = font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
        Fact(L"dialog font", Format(L"%ls, %ld px = %.1f pt at %u DPI (WM_GETFONT, GetObject)",
                                    font.lfFaceName, font.lfHeight, pixels * 72.0 / dpi, dpi));
    } else {
        Fact(L"dialog font",
             Format(L"not reported across processes (WM_GETFONT answered %p); the template asks "
                    L"for %ls %d pt",
                    reinterpret_cast<void*>(handle), kDialogFontFace, kDialogFontPoints));
        font.lfHeight = -MulDiv(kDialogFontPoints, int(dpi), 72);
        font.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(font.lfFaceName, kDialogFontFace, LF_FACESIZE - 1);
    }
    wchar_t drawn[LF_FACESIZE] = L"?";
    HDC dc = GetDC(nullptr);
    HFONT copy = CreateFontIndirectW(&font);
    HGDIOBJ old = SelectObject(dc, copy);
    GetTextFaceW(dc, LF_FACESIZE, drawn);
    SelectObject(dc, old);
    DeleteObject(copy);
    ReleaseDC(nullptr, dc);
    Fact(L"drawn with", Format(L"%ls (GetTextFace of that font here)", drawn));
}
} // namespace

int RunFacts(const std::wstring& stage) {
    std::wstring folder = JoinPath(RunsFolder(stage, L"e2e-runs"), L"facts");
    RemoveTree(folder);
    MakeFolders(folder);
    ScenarioContext c(L"facts", stage, folder);
    Out(L"facts of the tool's process, as this system reports them\n");
    {
        ToolSession s(c);
        if (s.StartWithTwoDevices()) {
            System system = DescribeSystem();
            Fact(L"system", system.name);
            Fact(L"ANSI code page", Format(L"%u (GetACP)", GetACP()));
            CheckDpiAwareness(c, s.Process(), system);
            CheckCommonControls(c, s.Process());
            ShowDialogFont(s.Process());
            RECT client{};
            GetClientRect(s.Dialog(), &client);
            Fact(L"dialog client size", Format(L"%ld x %ld px", client.right, client.bottom));
        }
    } // the tool closed, as a user would close it
    Out(L"facts: %ls\n", c.Failures() == 0 ? L"ok" : Format(L"%d failed", c.Failures()).c_str());
    return c.Failures() == 0 ? 0 : 1;
}
