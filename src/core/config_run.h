// A configuration run: writes a freshly built image into one device.
#pragma once

#include "isp_api.h"

#include <cstddef>
#include <cstdint>

// What one run writes.
struct RunRequest {
    enum class Kind : uint8_t {
        // The device in table slot `slot`: a press of the configure button.
        Slot,
        // A device that arrived, found by its id and unique id (`device`)
        // wherever it is when the run starts: slots shift as devices leave.
        Arrival,
        // An arrival bit whose slot held no device in the arrival's search.
        NoDevice,
    };
    Kind kind;
    uint32_t slot;
    IspDeviceInfo device;
};

// Asks for the device in table slot index to be configured. Runs go strictly
// one at a time, and nobody waits for another: when no run is going on, this
// thread becomes the runner and runs this request and every one queued
// meanwhile before it returns; otherwise the request is queued for the
// running thread and the call returns at once. Always returns 0; the outcome
// goes to the log and the result field.
uint32_t ConfigureDevice(uint32_t index);

// The same for a list of requests, queued in order. Returns how many runs
// this thread ran before returning (0 when a runner elsewhere takes them).
size_t QueueRuns(const RunRequest* requests, size_t count);
