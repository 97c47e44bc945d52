#include "callback_watch.h"

#include "guarded_calls.h"
#include "isp_option_record.h"
#include "probe_report.h"

#include <windows.h>

#include <cstdio>

namespace {
std::atomic<int> g_running{0};
HANDLE g_librarySignal = CreateEventW(nullptr, FALSE, FALSE, nullptr);

// The lock check runs at most once: idle, armed by the main thread after the
// first registration, taken by the first callback on a library thread.
enum LockState : int { kLockIdle, kLockArmed, kLockTaken };
std::atomic<int> g_lockState{kLockIdle};
DWORD g_lockWaitMs = 0;
double g_registrationMs = 0;
HANDLE g_lockHelper = nullptr;
HANDLE g_lockDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE g_lockChecked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
IspOption g_lockRecord;
CallOutcome g_lockCall{};
double g_lockCallStartMs = 0;
double g_callbackReturnMs = 0;

DWORD WINAPI RegisterOnHelper(void*) {
    Run().helperThread = GetCurrentThreadId();
    g_lockCallStartMs = NowMs();
    g_lockCall = GuardedSetIspOption(&g_lockRecord);
    SetEvent(g_lockDone);
    return 0;
}

// Calls Tamla_SetIspOption on a thread of its own and waits a while for it.
// A library that calls back under a lock its exports take makes that call
// wait until this callback returns.
void CheckLock(size_t index) {
    g_lockRecord = BuildIspOption(false, &ProbeCallback);
    const double start = NowMs();
    g_lockHelper = CreateThread(nullptr, 0, RegisterOnHelper, nullptr, 0, nullptr);
    if (g_lockHelper == nullptr) {
        SetEvent(g_lockChecked);
        return;
    }
    const bool returned = WaitForSingleObject(g_lockDone, g_lockWaitMs) == WAIT_OBJECT_0;
    LockCheckResult& result = Run().lockCheck;
    result.outcome = returned ? LockCheck::Returned : LockCheck::Waited;
    result.callback = index;
    result.waitedMs = NowMs() - start;
    g_callbackReturnMs = NowMs();
    SetEvent(g_lockChecked);
}
} // namespace

int32_t ISP_CALL ProbeCallback(int32_t code, uint32_t mask, uint32_t count) {
    const bool overlapped = g_running.fetch_add(1) > 0;
    SeenCallback seen{};
    seen.atMs = NowMs();
    seen.code = code;
    seen.mask = mask;
    seen.count = count;
    seen.thread = GetCurrentThreadId();
    seen.inside = CallInsideThisThread();
    seen.libraryThread = seen.inside == LibraryCall::None && seen.thread != Run().mainThread;
    seen.overlapped = overlapped;
    seen.preceding = LastCallStarted(&seen.msAfter);
    const size_t index = Run().callbacksNext.fetch_add(1);
    if (index < kCallbacksKept) {
        Run().callbacks[index].seen = seen;
        Run().callbacks[index].ready = true;
    } else {
        Run().callbacksNotKept.fetch_add(1);
    }
    if (seen.libraryThread && index < kCallbacksKept && !AnyCallInside()) {
        int armed = kLockArmed;
        if (g_lockState.compare_exchange_strong(armed, kLockTaken))
            CheckLock(index);
    }
    g_running.fetch_sub(1);
    if (seen.libraryThread)
        SetEvent(g_librarySignal);
    return 0;
}

size_t SeenCallbackCount() {
    // Up to the first one still being recorded, so none is skipped.
    const size_t next = Run().callbacksNext.load();
    const size_t kept = next < kCallbacksKept ? next : kCallbacksKept;
    for (size_t i = 0; i < kept; ++i)
        if (!Run().callbacks[i].ready.load())
            return i;
    return kept;
}

bool SeenCallbackAt(size_t index, SeenCallback* out) {
    if (index >= kCallbacksKept || !Run().callbacks[index].ready.load())
        return false;
    *out = Run().callbacks[index].seen;
    return true;
}

size_t CallbacksNotKept() { return Run().callbacksNotKept.load(); }

void* LibraryEventSignal() { return g_librarySignal; }

void AllowLockCheck(double registrationMs) {
    // Long enough for a registration that does not wait: twice the one seen.
    g_registrationMs = registrationMs;
    g_lockWaitMs = 1000 + static_cast<DWORD>(2 * registrationMs);
    int idle = kLockIdle;
    g_lockState.compare_exchange_strong(idle, kLockArmed);
}

void FinishLockCheck() {
    int armed = kLockArmed;
    // No callback took it: none will from now on.
    if (g_lockState.compare_exchange_strong(armed, kLockIdle) || g_lockState.load() == kLockIdle)
        return;
    // A callback is checking: it waits a bounded time, and the parent ends
    // the run if the registration never returns.
    WaitForSingleObject(g_lockChecked, INFINITE);
    if (g_lockHelper == nullptr)
        return;
    WaitForSingleObject(g_lockHelper, INFINITE);
    CloseHandle(g_lockHelper);
    g_lockHelper = nullptr;
    LockCheckResult& result = Run().lockCheck;
    result.callMs = g_lockCall.ms;
    result.result = g_lockCall.result;
    result.afterReturnMs = g_lockCallStartMs + g_lockCall.ms - g_callbackReturnMs;
    // A registration that waited for the callback returns about as soon
    // after it as one that did not wait takes; a later one was merely slow.
    if (result.outcome == LockCheck::Waited &&
        (result.afterReturnMs < 0 || result.afterReturnMs > 250 + 2 * g_registrationMs))
        result.outcome = LockCheck::Slow;
    Run().lockCheckReady = true;
}

LockCheckResult LockCheckOutcome() {
    if (!Run().lockCheckReady.load())
        return LockCheckResult{LockCheck::NotRun, 0, 0, 0, 0, 0};
    return Run().lockCheck;
}

void CallbackThreadText(char* buffer, size_t size, const SeenCallback& seen) {
    if (seen.libraryThread)
        std::snprintf(buffer, size, "on a library thread (0x%04X)",
                      static_cast<unsigned>(seen.thread));
    else if (seen.inside == LibraryCall::None)
        std::snprintf(buffer, size, "on the probe's main thread, outside its calls");
    else if (seen.thread == Run().mainThread)
        std::snprintf(buffer, size, "on the probe's main thread inside %s",
                      LibraryCallName(seen.inside));
    else
        std::snprintf(buffer, size, "on the probe's thread 0x%04X inside %s",
                      static_cast<unsigned>(seen.thread), LibraryCallName(seen.inside));
}

void ReportCallbacks() {
    constexpr size_t kListed = 100;
    const size_t count = SeenCallbackCount();
    Report("Callbacks: %u", static_cast<unsigned>(count + CallbacksNotKept()));
    size_t overlapped = 0;
    for (size_t i = 0; i < count; ++i) {
        SeenCallback seen;
        if (!SeenCallbackAt(i, &seen))
            continue;
        overlapped += seen.overlapped ? 1 : 0;
        if (i >= kListed)
            continue;
        char thread[128];
        CallbackThreadText(thread, sizeof thread, seen);
        Report("  #%u at %.1f ms, %.1f ms after %s began: code %d, mask 0x%04X, count %u, %s%s",
               static_cast<unsigned>(i + 1), seen.atMs, seen.msAfter,
               LibraryCallName(seen.preceding), static_cast<int>(seen.code),
               static_cast<unsigned>(seen.mask), static_cast<unsigned>(seen.count), thread,
               seen.overlapped ? ", while another callback ran" : "");
    }
    if (count > kListed)
        Report("  (%u more not listed)", static_cast<unsigned>(count - kListed));
    if (CallbacksNotKept() > 0)
        Report("  (%u more not kept)", static_cast<unsigned>(CallbacksNotKept()));
    if (count > 0)
        Report("  two callbacks at once: %s", overlapped > 0 ? "seen" : "not seen");
    const LockCheckResult check = LockCheckOutcome();
    if (check.outcome == LockCheck::Returned)
        Report("  lock check in callback #%u: Tamla_SetIspOption on another thread returned in "
               "%.1f ms, while the callback waited; it answered %d",
               static_cast<unsigned>(check.callback + 1), check.callMs,
               static_cast<int>(check.result));
    else if (check.outcome != LockCheck::NotRun)
        Report("  lock check in callback #%u: Tamla_SetIspOption on another thread did not return "
               "while the callback waited %.0f ms; it returned %.0f ms after the callback did "
               "(%.0f ms in all) and answered %d",
               static_cast<unsigned>(check.callback + 1), check.waitedMs, check.afterReturnMs,
               check.callMs, static_cast<int>(check.result));
}
