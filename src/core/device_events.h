// The library's device event callback.
#pragma once

#include "isp_api.h"

// Keeps the device list current; while a run is going on it only records
// that a refresh is due. With automatic download on, an arrival has every
// device it names configured, lowest slot first, once the list holds them.
// Never waits for another thread's search or run: the library may call it on
// any thread, from inside its own calls or under its own lock. Returns 0
// with automatic download off; with it on, 0 when this call configured a
// device before returning, else 1 (work handed to a search or run elsewhere
// counts as not done here).
int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count);
