// A configuration run: writes a freshly built image into one device.
#pragma once

#include <cstdint>

// Configures the device in table slot index. Always returns 0; the outcome
// goes to the log and the result field. Runs are serialised: a second run
// waits for the first to end.
uint32_t ConfigureDevice(uint32_t index);
