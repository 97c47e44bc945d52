// The mutex behind the core's locks. The Windows build backs it with a slim
// reader/writer lock (supplied by the front end): std::mutex there drags a
// large part of the C++ runtime into the exe, because its lock() may throw.
// Host builds use std::mutex, which the thread sanitizer understands.
#pragma once

#include <mutex>

#if defined(_WIN32)
class CoreMutex {
public:
    constexpr CoreMutex() = default;
    CoreMutex(const CoreMutex&) = delete;
    CoreMutex& operator=(const CoreMutex&) = delete;

    void lock();
    void unlock();

private:
    void* state_ = nullptr; // an SRWLOCK: one pointer, zero when free
};
#else
using CoreMutex = std::mutex;
#endif

using CoreLock = std::lock_guard<CoreMutex>;
