// LibraryProbe: runs the calls a tool session makes into a TAMLAISPDLL.DLL,
// without ever writing a programmer, and judges each assumption the tool
// makes about the library. Exit status 0 when every assumption seen holds,
// 1 when some differ, 2 when the library cannot be loaded or the run cannot
// finish (a crash or a call that never returns).
#include "callback_watch.h"
#include "guarded_calls.h"
#include "library_file.h"
#include "library_steps.h"
#include "probe_report.h"
#include "probe_run.h"
#include "verdicts.h"
#include "watch_mode.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>

ProbeRun Run{};

namespace {
constexpr uint32_t kDefaultTimeoutS = 30;
constexpr uint32_t kMaxSeconds = 24 * 3600;
// Callbacks a library fires shortly after the last call still count.
constexpr DWORD kLingerMs = 300;
constexpr wchar_t kLibraryName[] = L"TAMLAISPDLL.DLL";
constexpr wchar_t kReportName[] = L"LibraryProbe-report.txt";

wchar_t g_reportPath[MAX_PATH];

#if defined(__i386__)
constexpr const char* kProbeMachine = "x86";
#else
constexpr const char* kProbeMachine = "x64";
#endif

struct Options {
    wchar_t library[MAX_PATH];
    uint32_t watchSeconds;
    uint32_t timeoutSeconds;
};

void Usage() {
    Report("usage: LibraryProbe.exe [LIBRARY] [--watch SECONDS] [--timeout SECONDS]");
    Report("  LIBRARY   a TAMLAISPDLL.DLL or the folder that holds it; default: the one beside "
           "this program");
    Report("  --watch   then watch SECONDS for programmers being plugged in and unplugged");
    Report("  --timeout give up on a call that has not returned after SECONDS (default %u)",
           static_cast<unsigned>(kDefaultTimeoutS));
}

bool ReadSeconds(const wchar_t* text, uint32_t* seconds) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    if (end == text || *end != 0 || value == 0 || value > kMaxSeconds)
        return false;
    *seconds = static_cast<uint32_t>(value);
    return true;
}

bool ReadOptions(int argc, wchar_t** argv, Options* options) {
    options->timeoutSeconds = kDefaultTimeoutS;
    const wchar_t* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--watch") == 0 && i + 1 < argc) {
            if (!ReadSeconds(argv[++i], &options->watchSeconds))
                return false;
        } else if (std::wcscmp(argv[i], L"--timeout") == 0 && i + 1 < argc) {
            if (!ReadSeconds(argv[++i], &options->timeoutSeconds))
                return false;
        } else if (argv[i][0] == L'-' || std::wcscmp(argv[i], L"/?") == 0 || library != nullptr) {
            return false;
        } else {
            library = argv[i];
        }
    }
    wchar_t here[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, here, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t* slash = std::wcsrchr(here, L'\\');
    if (slash != nullptr)
        slash[1] = 0;
    std::swprintf(g_reportPath, MAX_PATH, L"%ls%ls", here, kReportName);
    wchar_t given[MAX_PATH];
    if (library == nullptr)
        std::swprintf(given, MAX_PATH, L"%ls%ls", here, kLibraryName);
    else if (GetFullPathNameW(library, MAX_PATH, given, nullptr) == 0)
        return false;
    const DWORD attributes = GetFileAttributesW(given);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        const size_t end = std::wcslen(given);
        std::swprintf(given + end, MAX_PATH - end, L"%ls%ls",
                      end > 0 && given[end - 1] == L'\\' ? L"" : L"\\", kLibraryName);
    }
    std::swprintf(options->library, MAX_PATH, L"%ls", given);
    return true;
}

void ReportSystem() {
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionFn = const char*(CDECL*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto getVersion = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
    auto wineVersion = reinterpret_cast<WineVersionFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    char wine[64] = "";
    if (wineVersion != nullptr)
        std::snprintf(wine, sizeof wine, " (under Wine %s)", wineVersion());
    if (getVersion != nullptr && getVersion(&version) == 0)
        Report("  Windows            %lu.%lu.%lu%s", version.dwMajorVersion, version.dwMinorVersion,
               version.dwBuildNumber, wine);
    else
        Report("  Windows            version unknown%s", wine);
    Report("  ANSI code page     %u (OEM %u)", GetACP(), GetOEMCP());
    SYSTEMTIME now;
    GetLocalTime(&now);
    Report("  run at             %04u-%02u-%02u %02u:%02u:%02u local time", now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond);
}

// The callbacks, the verdicts and the result line, then the report file.
int FinishReport() {
    ReportBlank();
    ReportCallbacks();
    ReportBlank();
    const size_t differ = ReportVerdicts();
    ReportBlank();
    int status = 0;
    if (Run.stopped) {
        status = 2;
        Report("Result: stopped, exit status 2: %s", Run.stopCause);
    } else if (differ > 0) {
        status = 1;
        Report("Result: %u assumption(s) differ, exit status 1", static_cast<unsigned>(differ));
    } else {
        Report("Result: every assumption seen holds, exit status 0");
    }
    char path[MAX_PATH * 3];
    Utf8FromWide(path, sizeof path, g_reportPath);
    Report("Report: %s", path);
    if (!WriteReportFile(g_reportPath)) {
        char line[MAX_PATH * 3 + 64];
        std::snprintf(line, sizeof line, "the report could not be written to %s (error %lu)\r\n",
                      path, static_cast<unsigned long>(GetLastError()));
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)),
                  &written, nullptr);
    }
    return status;
}

// Ends the process without the library's detach code, which a library
// stuck in a call or with threads of its own may never finish.
[[noreturn]] void EndProcess(int status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}
} // namespace

void StopRun(const char* cause, bool inCall) {
    static std::atomic<uint32_t> stopping{0};
    uint32_t first = 0;
    if (!stopping.compare_exchange_strong(first, GetCurrentThreadId())) {
        // A second stop from the thread already stopping: its report failed.
        if (first == GetCurrentThreadId())
            EndProcess(2);
        for (;;)
            Sleep(INFINITE);
    }
    Run.stopped = true;
    Run.stoppedInCall = inCall;
    std::snprintf(Run.stopCause, sizeof Run.stopCause, "%s", cause);
    Report("Stopped: %s", cause);
    FinishReport();
    EndProcess(2);
}

int wmain(int argc, wchar_t** argv) {
    Options options{};
    if (!ReadOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    StartCallGuard(options.timeoutSeconds * 1000);
    Report("LibraryProbe %s (%s): checks a TAMLAISPDLL.DLL against what ProgrammerSetup.exe "
           "assumes of it",
           LIBRARY_PROBE_VERSION, kProbeMachine);
    Report("It never calls Tamla_FlashProgramB and never writes a programmer.");
    ReportBlank();
    Report("System");
    ReportSystem();
    ReportBlank();
    char path[MAX_PATH * 3];
    Utf8FromWide(path, sizeof path, options.library);
    Report("Library");
    Report("  path               %s", path);
    char cause[256];
    if (!InspectLibraryFile(options.library, cause, sizeof cause))
        StopRun(cause, false);

    uint32_t error = 0;
    const double start = NowMs();
    HMODULE module = static_cast<HMODULE>(GuardedLoad(options.library, &error));
    if (module == nullptr) {
        std::snprintf(cause, sizeof cause, "Windows cannot load the library (error %lu)",
                      static_cast<unsigned long>(error));
        StopRun(cause, false);
    }
    Report("  loaded at 0x%llX in %.1f ms",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)), NowMs() - start);
    uintptr_t entries[kImportCount] = {};
    for (int k = 0; k < kImportCount; ++k) {
        const char* name = Run.exactName[k] ? kImportNames[k] : Run.foundAs[k];
        if (name[0] != 0)
            entries[k] = reinterpret_cast<uintptr_t>(GetProcAddress(module, name));
    }
    if (entries[kImportSetIspOption] == 0 || entries[kImportEnumDevices] == 0)
        StopRun("the library lacks Tamla_SetIspOption or Tamla_EnumDevices in every form: the tool "
                "will not start with it",
                false);
    // The probe has no use for the write's entry: it never calls it.
    SetLibraryEntries(entries[kImportSetIspOption], entries[kImportEnumDevices]);
    if (!Run.exactName[kImportSetIspOption] || !Run.exactName[kImportEnumDevices])
        Report("  the calls below go to the names found instead");
    ReportBlank();

    RunRegistrations();
    ReportBlank();
    RunSearches();
    if (options.watchSeconds > 0) {
        ReportBlank();
        RunWatch(options.watchSeconds);
    } else {
        Sleep(kLingerMs);
    }
    FinishLockCheck();
    EndProcess(FinishReport());
}
