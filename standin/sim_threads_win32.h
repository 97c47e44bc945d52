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
#include <set>
#include <string>
#include <vector>

// An event waiting for delivery, numbered as it was queued.
struct SimQueuedEvent {
    uint64_t token = 0;
    SimEvent event;
};

struct SimContext {
    std::wstring folder; // ends in a backslash

    SRWLOCK stateLock = SRWLOCK_INIT;
    SimState state;

    SimCallLog log;

    // Callback field of the last accepted registration; 0 means no events.
    std::atomic<uint32_t> callbackField{0};

    // The library's own lock, taken in the callbacks-under-lock mode.
    CRITICAL_SECTION libraryLock;

    // Events are numbered (their token) as they are queued. Each is taken
    // once, by the event thread or, with callbacks-in-calls, by a caller
    // inside Tamla_EnumDevices, so two may be delivered at once.
    SRWLOCK eventLock = SRWLOCK_INIT;
    CONDITION_VARIABLE eventQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE eventDelivered = CONDITION_VARIABLE_INIT;
    std::deque<SimQueuedEvent> events; // queued, not taken yet
    std::set<uint64_t> undelivered;    // queued or being delivered
    uint64_t lastToken = 0;

    std::vector<std::string> scenarioTimeline; // scenario lines from the first wait on
};

// The simulator, started by the first call: scenario (or default devices)
// applied, folders made, threads running.
SimContext& Simulator();

// The settings each export reads once when it is called.
struct SimCallModes {
    bool syncCallbacks = false;
    bool lockedCallbacks = false;
    uint32_t enumMs = 0;
    uint32_t rescanMs = 0;
};
SimCallModes ReadCallModes(SimContext& sim);

// Returns a token that WaitDelivered accepts.
uint64_t QueueEvent(SimContext& sim, const SimEvent& event);

// Waits (at most timeoutMs) until the event with that token and all before
// it have been delivered. Returns at once on a thread inside the callback:
// one of those deliveries may be its own.
void WaitDelivered(SimContext& sim, uint64_t token, DWORD timeoutMs);

// This thread is running the callback (the library's or a caller's thread).
bool InsideCallback();

// Calls the registered callback with the event on this thread and logs it;
// `inCall` names the export it is called from (null on the event thread).
void DeliverEvent(SimContext& sim, const SimEvent& event, const char* inCall);

// Delivers on this thread the events queued before the call that no other
// thread has taken yet.
void DeliverQueuedEvents(SimContext& sim, const char* inCall);
