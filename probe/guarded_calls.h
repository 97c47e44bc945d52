// Calls into the library, made in the child. Each marks its thread as inside
// that call in the shared record, so the parent can time it out and name it
// when the child dies in it; an exception handler records every error raised
// in the child before the library's own handlers see it. On x86 each call
// also goes through a thunk that measures the stack it leaves.
#pragma once

#include "isp_api.h"
#include "probe_run.h"

#include <cstddef>
#include <cstdint>

const char* LibraryCallName(LibraryCall call);

struct CallOutcome {
    int32_t result;
    double ms;
    int32_t stackLeft;
};

// Milliseconds since the run's origin, the same clock in both processes.
double NowMs();
double TicksToMs(int64_t ticks);
int64_t Ticks();

// In the child: records exceptions and ends the process on an unhandled one,
// with what it saw in the shared record.
void GuardChild();

// Loads by full path, the library's folder first for what it imports;
// nullptr (and the error) on failure. DllMain runs the library's code, so
// the load is marked like a call.
void* GuardedLoad(const wchar_t* path, uint32_t* error);

// Where the calls go: the exports found in the loaded library.
void SetLibraryEntries(uintptr_t setIspOption, uintptr_t enumDevices);
CallOutcome GuardedSetIspOption(IspOption* record);
CallOutcome GuardedEnumDevices(IspDeviceInfo* table, uint32_t maxCount);

// The export the calling thread is inside (None outside every call).
LibraryCall CallInsideThisThread();
// Whether any thread of the probe is inside a call.
bool AnyCallInside();
// The call started last, and the milliseconds since it started.
LibraryCall LastCallStarted(double* msSince);

// "stack as stdcall leaves it (4 bytes of arguments removed)" and the
// other cases, for the report.
void StackText(char* buffer, size_t size, int32_t stackLeft, uint32_t argumentBytes);
