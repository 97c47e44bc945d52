// The core's mutex on Windows: a slim reader/writer lock used exclusively.
// It needs no initialisation beyond zero, so the core's static locks are
// ready before any constructor runs.
#include "core_mutex.h"

#include <windows.h>

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

void CoreMutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }

void CoreMutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }
