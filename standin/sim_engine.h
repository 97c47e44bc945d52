// The simulator's decisions, free of any platform: what a command changes,
// which events it fires, and how each export answers. The Win32 shell holds
// a lock around these calls and does the waiting, file work and callbacks.
#pragma once

#include "isp_api.h"
#include "sim_command.h"
#include "sim_devices.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSimDefaultFlashMs = 1500;
// Removal event; arrivals use kIspEventArrival, other codes come from scripts.
constexpr int32_t kSimEventRemoval = 2;
// A change of the device set that names no arrival: what a search reports
// with callbacks-in-calls.
constexpr int32_t kSimEventChange = 1;

struct SimEvent {
    int32_t code = 0;
    uint32_t mask = 0;
    uint32_t count = 0;
};

struct SimState {
    SimDeviceSet devices;
    int32_t optionResult = 1;
    bool modeSet = false; // write `mode` into every registered record
    int32_t mode = 0;
    int32_t flashResult = 1;
    uint32_t flashMs = kSimDefaultFlashMs;
    std::vector<uint32_t> unplugDuringWrite; // ids armed for their next write
    std::vector<uint32_t> unplugAfterSearch; // ids armed for the next search
    bool enumCountSet = false;
    uint32_t enumCount = 0;
    bool unterminatedNames = false;
    uint32_t enumMs = 0; // how long a search scans before it answers
    // Calls the callback on the caller's thread inside the exports too.
    bool syncCallbacks = false;
    // The event thread holds the library's lock while it calls back, and
    // every export takes that lock.
    bool lockedCallbacks = false;
    // How long the event thread rescans before each callback, holding the
    // library's lock meanwhile when lockedCallbacks is set.
    uint32_t rescanMs = 0;
};

struct SimOutcome {
    bool ok = true;
    std::string error;            // why the command did nothing, when !ok
    std::vector<SimEvent> events; // to deliver, in order, on the event thread
    uint32_t waitMs = 0;          // the command thread pauses this long
};

// The state a library starts in without a scenario file.
SimState DefaultSimState();

SimOutcome ApplySimCommand(SimState& state, const SimCommand& command);

// Tamla_EnumDevices: writes at most min(attached, maxCount) records, fewer
// when a forced count is lower, and returns the count (the forced one when
// set). A null buffer gets nothing written.
int32_t EnumerateSimDevices(const SimState& state, IspDeviceInfo* records, uint32_t maxCount);

// Tamla_SetIspOption: writes the scripted mode into the record and returns
// the scripted answer.
int32_t RegisterSimOption(const SimState& state, IspOption& record);

// With callbacks-in-calls, an accepted registration reports the devices
// already attached: one arrival with the mask of every slot and the count.
// False when there is nothing to report.
bool ArrivalOnRegistration(const SimState& state, int32_t result, SimEvent& event);

// With callbacks-in-calls, every search reports the device set on the
// caller's thread: a plain change with the mask of every slot and the count.
// Not from inside a callback already running on that thread, whose own
// search would otherwise call back into it without end. False when there is
// nothing to report.
bool ChangeInSearch(const SimState& state, bool insideCallback, SimEvent& event);

// Whether a registration turns device events on, and with which callback
// field: notification at offset 853 must be non-zero and the field too.
uint32_t EventCallbackField(const IspOption& record);

struct SimFlashPlan {
    int32_t result = 0;          // answer once the write is over
    uint32_t durationMs = 0;     // how long the call blocks
    bool unplugHalfway = false;  // detach the device after half the duration
    const char* error = nullptr; // set when the write is refused at once
};

// Largest image the simulator reads; the tool passes 61440 bytes.
constexpr uint32_t kSimMaxImage = 1u << 20;

// Tamla_FlashProgramB, first half: decides the write and consumes an armed
// unplug-during-write for that device.
SimFlashPlan PlanSimFlash(SimState& state, uint32_t deviceId, bool haveImage, uint32_t length);

// How the caller's image buffer differs from the copy taken when the write
// began; a library reads the buffer during the whole write.
struct SimImageChange {
    uint32_t bytes = 0; // how many bytes differ
    uint32_t first = 0; // offset of the first one
};
SimImageChange CompareImage(const uint8_t* atStart, const uint8_t* atEnd, uint32_t length);

// An armed unplug (halfway through a write, or once a search has read the
// records): detaches the device, returns the removal event, or false when it
// has already gone.
bool UnplugArmed(SimState& state, uint32_t deviceId, SimEvent& event);
