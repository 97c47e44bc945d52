// LibraryProbe: runs the calls a tool session makes into a TAMLAISPDLL.DLL,
// without ever writing a programmer, and judges each assumption the tool
// makes about the library. The library's code runs only in a child process
// the probe starts and watches, so the report is written whatever the
// library does. Exit status 0 when nothing seen breaks the tool (notes on
// what it copes with allowed), 1 when something would, 2 when the probe
// could not judge: the library cannot be loaded, or the run could not
// finish.
#include "callback_watch.h"
#include "child_steps.h"
#include "child_watch.h"
#include "guarded_calls.h"
#include "library_file.h"
#include "probe_report.h"
#include "probe_run.h"
#include "verdicts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

namespace {
constexpr uint32_t kDefaultTimeoutS = 30;
constexpr uint32_t kMaxSeconds = 24 * 3600;
constexpr wchar_t kLibraryName[] = L"TAMLAISPDLL.DLL";
constexpr wchar_t kReportName[] = L"LibraryProbe-report.txt";

ProbeRun* g_run = nullptr;

#if defined(__i386__)
constexpr const char* kProbeMachine = "x86";
#else
constexpr const char* kProbeMachine = "x64";
#endif

struct Options {
    wchar_t library[MAX_PATH];
    wchar_t folder[MAX_PATH]; // the probe's own, with its final backslash
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
    const DWORD length = GetModuleFileNameW(nullptr, options->folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t* slash = std::wcsrchr(options->folder, L'\\');
    if (slash != nullptr)
        slash[1] = 0;
    wchar_t given[MAX_PATH];
    if (library == nullptr)
        std::swprintf(given, MAX_PATH, L"%ls%ls", options->folder, kLibraryName);
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

// The record both processes share, in memory the child inherits.
HANDLE ShareRun() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const uint64_t size = sizeof(ProbeRun);
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE,
                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
    void* view =
        mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (view == nullptr)
        return nullptr;
    UseRun(new (view) ProbeRun());
    return mapping;
}

// The report goes beside the probe, else to the user's temporary folder;
// note says where it went when not beside the probe.
// False when neither place can be written.
bool OpenReport(const Options& options, wchar_t* path, char* note, size_t noteSize) {
    note[0] = 0;
    std::swprintf(path, MAX_PATH, L"%ls%ls", options.folder, kReportName);
    const uint32_t error = OpenReportFile(path);
    if (error == 0)
        return true;
    char beside[MAX_PATH * 3];
    Utf8FromWide(beside, sizeof beside, path);
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        std::snprintf(note, noteSize,
                      "Report: none: %s cannot be written (error %u), and there is no temporary "
                      "folder",
                      beside, static_cast<unsigned>(error));
        return false;
    }
    std::swprintf(path, MAX_PATH, L"%ls%ls", temp, kReportName);
    const uint32_t tempError = OpenReportFile(path);
    char there[MAX_PATH * 3];
    Utf8FromWide(there, sizeof there, path);
    if (tempError == 0)
        std::snprintf(note, noteSize, "Report: %s, as %s cannot be written (error %u)", there,
                      beside, static_cast<unsigned>(error));
    else
        std::snprintf(
            note, noteSize, "Report: none: neither %s (error %u) nor %s (error %u) can be written",
            beside, static_cast<unsigned>(error), there, static_cast<unsigned>(tempError));
    return tempError == 0;
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
}

// The callbacks, the verdicts and the result, then the report file with the
// result first.
int FinishReport(const wchar_t* reportPath, bool reportOpen) {
    if (Run().stop != StopKind::None) {
        ReportBlank();
        Report("Stopped: %s", Run().stopCause);
    }
    ReportBlank();
    ReportCallbacks();
    ReportBlank();
    ReportVerdicts();
    ReportBlank();
    static char head[16 * 1024];
    const int status = ResultLines(head, sizeof head - 2);
    for (const char* line = head; *line != 0;) {
        const char* end = std::strstr(line, "\r\n");
        Report("%.*s", static_cast<int>(end - line), line);
        line = end + 2;
    }
    if (!reportOpen) {
        Report("Report: none: it could not be written (see the fourth line)");
        return status;
    }
    char path[MAX_PATH * 3];
    Utf8FromWide(path, sizeof path, reportPath);
    Report("Report: %s", path);
    std::strcat(head, "\r\n");
    if (!FinishReportFile(head)) {
        char line[MAX_PATH * 3 + 64];
        std::snprintf(line, sizeof line, "the report could not be written to %s (error %lu)\r\n",
                      path, static_cast<unsigned long>(GetLastError()));
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)),
                  &written, nullptr);
    }
    return status;
}

// Ends the process at once: nothing of the library runs in it, but its
// threads may still be running in the child, which is gone by now.
[[noreturn]] void EndProcess(int status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}
} // namespace

ProbeRun& Run() { return *g_run; }
void UseRun(ProbeRun* run) { g_run = run; }

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], kChildOption) == 0)
        RunChildSteps(argv[2]);
    static Options options{};
    if (!ReadOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    CatchConsoleBreak();
    HANDLE mapping = ShareRun();
    if (mapping == nullptr) {
        std::fprintf(stderr, "LibraryProbe: no memory for the run's record (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    ProbeRun& run = Run();
    LARGE_INTEGER origin;
    QueryPerformanceCounter(&origin);
    run.originTicks = origin.QuadPart;
    std::swprintf(run.library, kPathChars, L"%ls", options.library);
    run.watchSeconds = options.watchSeconds;
    run.timeoutSeconds = options.timeoutSeconds;

    static wchar_t reportPath[MAX_PATH];
    char note[MAX_PATH * 7];
    const bool reportOpen = OpenReport(options, reportPath, note, sizeof note);
    SYSTEMTIME now;
    GetLocalTime(&now);
    Report("LibraryProbe %s (%s): checks a TAMLAISPDLL.DLL against what ProgrammerSetup.exe "
           "assumes of it",
           LIBRARY_PROBE_VERSION, kProbeMachine);
    Report("It never calls Tamla_FlashProgramB and never writes a programmer.");
    Report("This run: %04u-%02u-%02u %02u:%02u:%02u.%03u local time, process %lu", now.wYear,
           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
           static_cast<unsigned long>(GetCurrentProcessId()));
    if (note[0] != 0)
        Report("%s", note);
    ReportBlank();
    Report("System");
    ReportSystem();
    ReportBlank();
    char path[MAX_PATH * 3];
    Utf8FromWide(path, sizeof path, options.library);
    Report("Library");
    Report("  path               %s", path);
    char cause[256];
    if (InspectLibraryFile(options.library, cause, sizeof cause))
        RunChild(mapping);
    else
        StopRun(StopKind::CannotLoad, Fault::None, "%s", cause);
    EndProcess(FinishReport(reportPath, reportOpen));
}
