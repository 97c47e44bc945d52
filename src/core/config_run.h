// A configuration run: writes a freshly built image into one device.
#pragma once

#include "isp_api.h"

#include <cstdint>

// What one run writes.
struct RunRequest {
    enum class Kind : uint8_t {
        // The device whose entry was selected when configure was pressed.
        Pressed,
        // A device an arrival brought, selected in the list before the write.
        Arrival,
        // A slot that held no device: only its index is reported.
        NoDevice,
    };
    Kind kind;
    uint32_t slot;        // the slot when the request was made
    IspDeviceInfo device; // Pressed and Arrival: found by id and unique id
};

// One run, on the thread at work on the devices (device_coordination.cpp):
// finds the device in the table as it stands now, builds the image from the
// option controls read now, writes it and reports the outcome. Returns false
// when it ended without a trace because the tool is closing.
bool RunConfiguration(const RunRequest& request);
