// The mutex behind the core's locks. The platform supplies lock and unlock:
// the Windows front end backs it with a slim reader/writer lock (std::mutex
// there drags a large part of the C++ runtime into the exe, because its
// lock() may throw); host builds, which only the tests use, back it with a
// std::mutex that the thread sanitizer understands, and the schedule
// simulation also lets its scheduler pick the next thread at every lock.
#pragma once

#include <mutex>

class CoreMutex {
public:
    constexpr CoreMutex() = default;
    CoreMutex(const CoreMutex&) = delete;
    CoreMutex& operator=(const CoreMutex&) = delete;

    void lock();
    void unlock();

private:
#if defined(_WIN32)
    void* state_ = nullptr; // an SRWLOCK: one pointer, zero when free
#else
    std::mutex mutex_;
#endif
};

using CoreLock = std::lock_guard<CoreMutex>;
