// The body of the worker threads the dialog starts. The core decides what a
// worker does; the platform only starts a thread that runs it.
#pragma once

#include <cstdint>

// Does the work the dialog recorded, and whatever is asked meanwhile, unless
// another thread is at work on the library (device_coordination.h). The
// argument names the list entry of a press, or is 0; the work itself was
// recorded before the thread started. Returns 0.
uint32_t RunWorkerJob(uint32_t argument);
