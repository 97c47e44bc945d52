// A configuration run: writes a freshly built image into one device.
#pragma once

#include <cstdint>

// Asks for the device in table slot index to be configured. Runs go strictly
// one at a time, and nobody waits for another: when no run is going on, this
// thread becomes the runner and runs this request and every one queued
// meanwhile before it returns; otherwise the request is queued for the
// running thread and the call returns at once. Always returns 0; the outcome
// goes to the log and the result field.
uint32_t ConfigureDevice(uint32_t index);
