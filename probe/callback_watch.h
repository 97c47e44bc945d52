// The probe's own device event callback. It records every call the library
// makes to it: the event, the thread (the probe's, inside which export, or
// one of the library's), whether another callback was running, and the time
// since the call that preceded it. The first callback on a library thread
// while the probe is idle also checks whether Tamla_SetIspOption, called on
// another thread, waits for that callback to return.
#pragma once

#include "guarded_calls.h"
#include "isp_api.h"

#include <cstddef>
#include <cstdint>

struct SeenCallback {
    int32_t code;
    uint32_t mask;
    uint32_t count;
    uint32_t thread;
    LibraryCall inside;    // the export the thread was inside, when it is the probe's
    bool libraryThread;    // a thread the probe did not call from
    bool overlapped;       // another callback was running when this one started
    LibraryCall preceding; // the call started last before it
    double msAfter;        // and how long before it
    double atMs;
};

int32_t ISP_CALL ProbeCallback(int32_t code, uint32_t mask, uint32_t count);

// Callbacks recorded so far, all readable (a storm beyond the table is only
// counted).
size_t SeenCallbackCount();
bool SeenCallbackAt(size_t index, SeenCallback* out);
size_t CallbacksNotKept();

// Signalled after each callback on a library thread, for the watch.
void* LibraryEventSignal();

// The lock check: allowed once the first registration has shown how long
// Tamla_SetIspOption takes, and waited for at the end of the run.
void AllowLockCheck(double registrationMs);
void FinishLockCheck();

enum class LockCheck { NotRun, Returned, Waited };
struct LockCheckResult {
    LockCheck outcome;
    size_t callback; // index of the callback it ran in
    double waitedMs; // how long the callback waited for the registration
    double callMs;   // how long the registration took
    int32_t result;
};
LockCheckResult LockCheckOutcome();

// "on a library thread (0x1A2C)", "on the probe's main thread inside
// Tamla_EnumDevices" and the like.
void CallbackThreadText(char* buffer, size_t size, const SeenCallback& seen);

// The callbacks of the run, one line each (a storm is cut short), whether
// two ran at once, and the lock check.
void ReportCallbacks();
