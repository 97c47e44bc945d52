#include "busy_handshake.h"

#include "core_mutex.h"

#include <atomic>

namespace {
// A leaf lock: held for a flag update, never across a call out of this file.
CoreMutex BusyLock;
// Atomics so the read-only views need no lock; every change is made under
// BusyLock, which is what pairs the two flags.
std::atomic<bool> ConfigBusy{false};
std::atomic<bool> RefreshPending{false};
} // namespace

void BeginConfigRun() {
    CoreLock lock(BusyLock);
    ConfigBusy = true;
}

bool EndConfigRun() {
    CoreLock lock(BusyLock);
    ConfigBusy = false;
    return RefreshPending.load();
}

bool DeferRefreshIfBusy() {
    CoreLock lock(BusyLock);
    if (!ConfigBusy.load())
        return false;
    RefreshPending = true;
    return true;
}

void TakePendingRefresh() {
    CoreLock lock(BusyLock);
    RefreshPending = false;
}

bool ConfigRunBusy() { return ConfigBusy.load(); }

bool RefreshRequestPending() { return RefreshPending.load(); }

void ResetBusyHandshake() {
    CoreLock lock(BusyLock);
    ConfigBusy = false;
    RefreshPending = false;
}
