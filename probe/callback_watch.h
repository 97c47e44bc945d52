// The probe's own device event callback, in the child. It records every
// call the library makes to it in the shared record: the event, the thread
// (the probe's, inside which export, or one of the library's), whether
// another callback was running, and the time since the call that preceded
// it. The first callback on a library thread while the probe is idle also
// checks whether Tamla_SetIspOption, called on another thread, waits for
// that callback to return.
#pragma once

#include "isp_api.h"
#include "probe_run.h"

#include <cstddef>
#include <cstdint>

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

// In the parent, from the shared record.
LockCheckResult LockCheckOutcome();

// "on a library thread (0x1A2C)", "on the probe's main thread inside
// Tamla_EnumDevices" and the like.
void CallbackThreadText(char* buffer, size_t size, const SeenCallback& seen);

// The callbacks of the run, one line each (a storm is cut short), whether
// two ran at once, and the lock check.
void ReportCallbacks();
