// The library's device event callback.
#pragma once

#include "isp_api.h"

// Asks for the device list to be searched again; while a run is going on the
// search waits for its end. With automatic download on, an arrival has the
// devices it brought written once the list holds them. Never waits for
// another thread's search or run: the library may call it on any thread,
// from inside its own calls or under its own lock. Returns 1 when a run was
// going on; otherwise 0 with automatic download off, and with it on, 0 when
// this call configured a device before returning, else 1 (work done on
// another thread counts as not done here).
int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count);
