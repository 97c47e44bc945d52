#include "child_watch.h"

#include "child_steps.h"
#include "guarded_calls.h"
#include "win32_handles.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {
constexpr DWORD kPollMs = 20;
constexpr DWORD kKillWaitMs = 5000;
constexpr DWORD kFailFast = 0xC0000409; // STATUS_STACK_BUFFER_OVERRUN, the code of __fastfail

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleBreak(DWORD kind) {
    g_interrupted = true;
    // The system ends the process when this returns from a close: the main
    // thread writes the report meanwhile and ends it first.
    if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT)
        Sleep(kKillWaitMs);
    return TRUE;
}

// The child runs without a console, so Ctrl+C reaches only the parent, and
// with its standard handles on NUL, so nothing a library prints mixes with
// the report.
// Returns the child's process, or nullptr with the error.
HANDLE StartChild(HANDLE mapping, DWORD* error) {
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    if (length == 0 || length >= MAX_PATH || !nul.valid()) {
        *error = GetLastError();
        return nullptr;
    }
    wchar_t command[MAX_PATH + 64];
    std::swprintf(command, sizeof command / sizeof command[0], L"\"%ls\" %ls %llX", exe,
                  kChildOption,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(mapping)));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe, command, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &info)) {
        *error = GetLastError();
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

// "TAMLAISPDLL.DLL+0x1234", by the modules the child saw once it had loaded
// the library.
void DescribeAddress(char* buffer, size_t size, uint64_t address) {
    const ProbeRun& run = Run();
    for (uint32_t i = 0; i < run.moduleCount; ++i) {
        const ModuleSeen& module = run.modules[i];
        if (address >= module.base && address - module.base < module.size) {
            std::snprintf(buffer, size, "%s+0x%llX", module.name,
                          static_cast<unsigned long long>(address - module.base));
            return;
        }
    }
    std::snprintf(buffer, size, "0x%llX", static_cast<unsigned long long>(address));
}

// The call some thread of the probe is inside, the main thread's first.
LibraryCall CallInProgress(double* ms) {
    LibraryCall found = LibraryCall::None;
    for (const CallSlot& slot : Run().calls) {
        const uint32_t thread = slot.thread.load();
        if (thread == 0 || (found != LibraryCall::None && thread != Run().mainThread))
            continue;
        found = static_cast<LibraryCall>(slot.call.load());
        *ms = TicksToMs(Ticks() - slot.start.load());
    }
    return found;
}

void StopForCrash() {
    const ProbeRun& run = Run();
    const ExceptionSeen& seen = run.exception;
    const uint32_t code = seen.code.load();
    const LibraryCall call = static_cast<LibraryCall>(seen.call.load());
    char where[160];
    DescribeAddress(where, sizeof where, seen.address.load());
    const char* what = code == EXCEPTION_STACK_OVERFLOW ? "overflowed its stack" : "crashed";
    const uint64_t accessed = seen.accessed.load();
    if (call == LibraryCall::EnumDevices && code == EXCEPTION_ACCESS_VIOLATION &&
        accessed >= run.tableGuard && accessed - run.tableGuard < run.tableGuardSize) {
        // Only the probe's page turned the overrun into a crash: the verdict
        // on the search says what it does to the tool.
        Run().pastProbeTable = true;
        StopRun(StopKind::LibraryFault, Fault::None,
                "Tamla_EnumDevices wrote past the probe's %u records, into the no-access page "
                "after them: exception 0x%08X at %s",
                static_cast<unsigned>(kProbeTableRecords), static_cast<unsigned>(code), where);
    } else if (call != LibraryCall::None) {
        Run().faultCall = call;
        StopRun(StopKind::LibraryFault, Fault::Crash, "%s %s: exception 0x%08X at %s",
                LibraryCallName(call), what, static_cast<unsigned>(code), where);
    } else if (seen.thread.load() != run.mainThread && seen.thread.load() != run.helperThread) {
        StopRun(StopKind::LibraryFault, Fault::LibraryThreadCrash,
                "a thread of the library's %s: exception 0x%08X at %s", what,
                static_cast<unsigned>(code), where);
    } else {
        StopRun(StopKind::Interrupted, Fault::None,
                "the probe crashed outside the library's calls: exception 0x%08X at %s",
                static_cast<unsigned>(code), where);
    }
}

// The child ended before its steps were done.
void StopForEnd(DWORD status) {
    const ExceptionSeen& seen = Run().exception;
    if (seen.count.load() > 0 && (seen.unhandled.load() || seen.code.load() == status)) {
        StopForCrash();
        return;
    }
    char how[256];
    int n = 0;
    if (status == kFailFast)
        n = std::snprintf(how, sizeof how,
                          "with a fail-fast exit (0x%08lX: a failed security check or a "
                          "corrupted heap)",
                          static_cast<unsigned long>(status));
    else if (status >= 0xC0000000u)
        n = std::snprintf(how, sizeof how, "with status 0x%08lX",
                          static_cast<unsigned long>(status));
    else
        n = std::snprintf(how, sizeof how, "with exit code %lu",
                          static_cast<unsigned long>(status));
    // A handler of the library's may have taken an exception and ended the
    // process itself.
    if (seen.count.load() > 0 && n > 0 && static_cast<size_t>(n) < sizeof how) {
        char where[160];
        DescribeAddress(where, sizeof where, seen.address.load());
        std::snprintf(how + n, sizeof how - static_cast<size_t>(n),
                      ", after exception 0x%08X at %s", static_cast<unsigned>(seen.code.load()),
                      where);
    }
    double ms = 0;
    const LibraryCall call = CallInProgress(&ms);
    Run().faultCall = call;
    if (call != LibraryCall::None)
        StopRun(StopKind::LibraryFault, Fault::EndedProcess, "%s ended the process %s",
                LibraryCallName(call), how);
    else if (Run().loaded)
        StopRun(StopKind::LibraryFault, Fault::EndedProcess,
                "the process ended %s outside the probe's calls, while the library was loaded",
                how);
    else
        StopRun(StopKind::Interrupted, Fault::None,
                "the probe's child ended %s before it loaded the library", how);
}

// What the child left when it finished its steps: a library it could not
// load, or a cause of its own.
void StopForChildFinding() {
    const ProbeRun& run = Run();
    if (run.childProblem[0] != 0)
        StopRun(StopKind::Interrupted, Fault::None, "%s", run.childProblem);
    else if (!run.loaded)
        StopRun(StopKind::CannotLoad, Fault::None, "Windows cannot load the library (error %lu)",
                static_cast<unsigned long>(run.loadError));
    else if (run.entriesMissing)
        StopRun(StopKind::CannotLoad, Fault::None,
                "the library lacks Tamla_SetIspOption or Tamla_EnumDevices in every form: the "
                "tool will not start with it");
}

const char* PhaseText(Phase phase) {
    switch (phase) {
    case Phase::Starting:
        return "starting";
    case Phase::Loading:
        return "loading the library";
    case Phase::Registering:
        return "registering";
    case Phase::Searching:
        return "searching";
    case Phase::Watching:
        return "watching";
    case Phase::Lingering:
        return "waiting for late callbacks";
    case Phase::Done:
        break;
    }
    return "ending";
}

// Watches the running child; returns true once it has ended by itself,
// false when it had to be stopped (the cause is set).
bool Watch(HANDLE process) {
    ProbeRun& run = Run();
    const double timeoutMs = 1000.0 * run.timeoutSeconds;
    Phase phase = run.phase.load();
    uint32_t text = run.textUsed.load();
    double progressAt = NowMs();
    for (;;) {
        const bool ended = WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0;
        TakeChildLines();
        if (ended)
            return true;
        if (g_interrupted.exchange(false)) {
            if (run.phase.load() == Phase::Watching && !run.stopWatch.load()) {
                run.stopWatch = true;
                continue;
            }
            StopRun(StopKind::Interrupted, Fault::None, "stopped by Ctrl+C while %s",
                    PhaseText(run.phase.load()));
            return false;
        }
        double ms = 0;
        const LibraryCall call = CallInProgress(&ms);
        if (call != LibraryCall::None && ms > timeoutMs) {
            run.faultCall = call;
            StopRun(StopKind::LibraryFault, Fault::Hang,
                    "%s did not return within %u s (the probe's time-out per call)",
                    LibraryCallName(call), static_cast<unsigned>(run.timeoutSeconds));
            return false;
        }
        // Outside the calls, each phase makes progress within the time-out
        // (the watch within its own length more).
        if (run.phase.load() != phase || run.textUsed.load() != text || call != LibraryCall::None) {
            phase = run.phase.load();
            text = run.textUsed.load();
            progressAt = NowMs();
        }
        const double limit = timeoutMs + (phase == Phase::Watching ? 1000.0 * run.watchSeconds : 0);
        if (NowMs() - progressAt > limit) {
            StopRun(StopKind::Interrupted, Fault::None,
                    "the probe's child made no progress for %u s while %s",
                    static_cast<unsigned>(limit / 1000), PhaseText(phase));
            return false;
        }
    }
}
} // namespace

void CatchConsoleBreak() { SetConsoleCtrlHandler(OnConsoleBreak, TRUE); }

void StopRun(StopKind kind, Fault fault, const char* format, ...) {
    ProbeRun& run = Run();
    run.stop = kind;
    run.fault = fault;
    va_list args;
    va_start(args, format);
    std::vsnprintf(run.stopCause, sizeof run.stopCause, format, args);
    va_end(args);
}

void RunChild(void* mapping) {
    DWORD error = 0;
    const UniqueHandle process(StartChild(static_cast<HANDLE>(mapping), &error));
    if (!process.valid()) {
        StopRun(StopKind::Interrupted, Fault::None,
                "the probe cannot start its child process (error %lu)",
                static_cast<unsigned long>(error));
        return;
    }
    if (!Watch(process.get())) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), kKillWaitMs);
        TakeChildLines();
        return;
    }
    DWORD status = 0;
    GetExitCodeProcess(process.get(), &status);
    if (Run().phase.load() != Phase::Done)
        StopForEnd(status);
    else
        StopForChildFinding();
}
