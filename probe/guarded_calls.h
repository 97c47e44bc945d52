// Calls into the library under guard. Each runs on the thread that asks for
// it while a watchdog ends the run when it does not return in time, and an
// unhandled-exception filter ends it when the library crashes; either way
// the report so far is written. On x86 each call also goes through a thunk
// that measures the stack it leaves.
#pragma once

#include "isp_api.h"

#include <cstddef>
#include <cstdint>

enum class LibraryCall : uint8_t { None, Load, SetIspOption, EnumDevices };
const char* LibraryCallName(LibraryCall call);

// The bytes of arguments a call left on the stack: 0 as a stdcall function
// leaves it, all of them for cdecl. x64 has one calling convention.
constexpr int32_t kStackNotChecked = INT32_MIN;

struct CallOutcome {
    int32_t result;
    double ms;
    int32_t stackLeft;
};

// Starts the watchdog and the crash filter; timeoutMs is per call.
void StartCallGuard(uint32_t timeoutMs);
uint32_t CallTimeoutMs();

// Milliseconds since the guard started.
double NowMs();
uint32_t MainThreadId();

// Loads by full path, the library's folder first for what it imports;
// nullptr (and the error) on failure. DllMain runs the library's code, so
// the load is guarded like a call.
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

// "the stack as stdcall leaves it (4 bytes of arguments removed)" and the
// other cases, for the report.
void StackText(char* buffer, size_t size, int32_t stackLeft, uint32_t argumentBytes);
