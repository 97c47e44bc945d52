#include "child_steps.h"

#include "callback_watch.h"
#include "guarded_calls.h"
#include "library_steps.h"
#include "probe_report.h"
#include "probe_run.h"
#include "watch_mode.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

namespace {
// Callbacks a library fires shortly after the last call still count.
constexpr DWORD kLingerMs = 300;

[[noreturn]] void EndChild() {
    Run().phase = Phase::Done;
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0);
}

// The modules loaded with the library, so the parent can name the address
// of a crash in any of them.
void RecordModules() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    ProbeRun& run = Run();
    for (BOOL more = Module32FirstW(snapshot, &entry); more && run.moduleCount < kModulesKept;
         more = Module32NextW(snapshot, &entry)) {
        ModuleSeen& module = run.modules[run.moduleCount++];
        module.base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
        module.size = entry.modBaseSize;
        Utf8FromWide(module.name, sizeof module.name, entry.szModule);
    }
    CloseHandle(snapshot);
}
} // namespace

void RunChildSteps(const wchar_t* recordHandle) {
    const uintptr_t handle = static_cast<uintptr_t>(std::wcstoull(recordHandle, nullptr, 16));
    void* view = MapViewOfFile(reinterpret_cast<HANDLE>(handle), FILE_MAP_ALL_ACCESS, 0, 0,
                               sizeof(ProbeRun));
    if (view == nullptr)
        ExitProcess(2);
    UseRun(static_cast<ProbeRun*>(view));
    ReportToParent();
    GuardChild();
    ProbeRun& run = Run();
    if (!PrepareSearchTable()) {
        std::snprintf(run.childProblem, sizeof run.childProblem,
                      "the probe cannot reserve its search table (error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        EndChild();
    }

    run.phase = Phase::Loading;
    const double start = NowMs();
    HMODULE module = static_cast<HMODULE>(GuardedLoad(run.library, &run.loadError));
    if (module == nullptr)
        EndChild();
    run.loaded = true;
    RecordModules();
    Report("  loaded at 0x%llX in %.1f ms",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)), NowMs() - start);
    uintptr_t entries[kImportCount] = {};
    for (int k = 0; k < kImportCount; ++k) {
        const char* name = run.exactName[k] ? kImportNames[k] : run.foundAs[k];
        if (name[0] != 0)
            entries[k] = reinterpret_cast<uintptr_t>(GetProcAddress(module, name));
    }
    if (entries[kImportSetIspOption] == 0 || entries[kImportEnumDevices] == 0) {
        run.entriesMissing = true;
        EndChild();
    }
    // The probe has no use for the write's entry: it never calls it.
    SetLibraryEntries(entries[kImportSetIspOption], entries[kImportEnumDevices]);
    if (!run.exactName[kImportSetIspOption] || !run.exactName[kImportEnumDevices])
        Report("  the calls below go to the names found instead");
    ReportBlank();

    RunRegistrations();
    ReportBlank();
    RunSearches();
    if (run.watchSeconds > 0) {
        ReportBlank();
        RunWatch(run.watchSeconds);
    } else {
        run.phase = Phase::Lingering;
        Sleep(kLingerMs);
    }
    FinishLockCheck();
    EndChild();
}
