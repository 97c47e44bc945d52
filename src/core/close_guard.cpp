#include "close_guard.h"

#include "core_mutex.h"
#include "dialog_access.h"
#include "log.h"

#include <atomic>
#include <cstdint>

namespace {
// A leaf lock around the flags below. It is held for flag updates, and across
// the one post of PostClickUnlessClosing: a post only queues a message, so
// it returns at once and never waits for another thread.
CoreMutex CloseLock;
std::atomic<uint32_t> WritesRunning{0};
bool CloseRequested = false;
bool CloseDeferralLogged = false;
bool SessionEnding = false;
} // namespace

bool RequestClose() {
    bool logDeferral = false;
    {
        CoreLock lock(CloseLock);
        CloseRequested = true;
        if (WritesRunning.load() == 0)
            return true;
        logDeferral = !CloseDeferralLogged;
        CloseDeferralLogged = true;
    }
    if (logDeferral)
        LogPrintf("A device is being written; the tool will close when the write ends.");
    return false;
}

bool MaySessionEnd() {
    CoreLock lock(CloseLock);
    if (WritesRunning.load() != 0)
        return false;
    SessionEnding = true;
    return true;
}

void SessionEndCalledOff() {
    CoreLock lock(CloseLock);
    SessionEnding = false;
}

WriteGate BeginWrite() {
    CoreLock lock(CloseLock);
    if (CloseRequested)
        return WriteGate::Closing;
    if (SessionEnding)
        return WriteGate::SessionEnding;
    ++WritesRunning;
    return WriteGate::Go;
}

bool EndWrite() {
    CoreLock lock(CloseLock);
    --WritesRunning;
    return CloseRequested && WritesRunning.load() == 0;
}

bool CloseDecided() {
    CoreLock lock(CloseLock);
    return CloseRequested;
}

void PostClickUnlessClosing(int id) {
    CoreLock lock(CloseLock);
    if (!CloseRequested)
        Dialog().PostClick(id);
}

#if CORE_TESTING
bool WriteInProgress() { return WritesRunning.load() != 0; }

void ResetCloseGuard() {
    CoreLock lock(CloseLock);
    WritesRunning = 0;
    CloseRequested = false;
    CloseDeferralLogged = false;
    SessionEnding = false;
}
#endif
