// The stand-in library's running parts: its one context, started inside the
// first export call; the event queue and the thread that delivers it; the
// command folder's loop and the scenario's timeline.
//
// Exit safety: nothing here has a destructor that runs at unload. The
// context is allocated once and never freed, the threads are raw Win32
// threads, so a process that ends while a write or a callback is in
// progress just ends.
#pragma once

#include "sim_call_log_win32.h"
#include "sim_engine.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct SimContext {
    std::wstring folder; // ends in a backslash

    SRWLOCK stateLock = SRWLOCK_INIT;
    SimState state;

    SimCallLog log;

    // Callback field of the last accepted registration; 0 means no events.
    std::atomic<uint32_t> callbackField{0};

    SRWLOCK eventLock = SRWLOCK_INIT;
    CONDITION_VARIABLE eventQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE eventDelivered = CONDITION_VARIABLE_INIT;
    std::deque<SimEvent> events;
    uint64_t queuedCount = 0;
    uint64_t deliveredCount = 0;
    DWORD eventThreadId = 0;

    std::vector<std::string> scenarioTimeline; // scenario lines from the first wait on
};

// The simulator, started by the first call: scenario (or default devices)
// applied, folders made, threads running.
SimContext& Simulator();

// Returns a token that WaitDelivered accepts.
uint64_t QueueEvent(SimContext& sim, const SimEvent& event);

// Waits (at most timeoutMs) until the event with that token and all before
// it have been delivered. Returns at once on the event thread itself.
void WaitDelivered(SimContext& sim, uint64_t token, DWORD timeoutMs);
