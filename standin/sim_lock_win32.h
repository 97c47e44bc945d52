// Scope guards for the stand-in's locks.
#pragma once

#include <windows.h>

// Holds an SRW lock (exclusive) for a scope.
class Locked {
public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

// Holds the library's own lock for a scope when `take` is set: the exports
// and the event thread take it only in the callbacks-under-lock mode. It is
// a critical section because a callback called under it may call every
// export on the same thread.
class LibraryLockHold {
public:
    LibraryLockHold(CRITICAL_SECTION& lock, bool take) : lock_(take ? &lock : nullptr) {
        if (lock_ != nullptr)
            EnterCriticalSection(lock_);
    }
    LibraryLockHold(const LibraryLockHold&) = delete;
    LibraryLockHold& operator=(const LibraryLockHold&) = delete;
    ~LibraryLockHold() {
        if (lock_ != nullptr)
            LeaveCriticalSection(lock_);
    }

private:
    CRITICAL_SECTION* lock_;
};
