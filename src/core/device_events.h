// The library's device event callback.
#pragma once

#include "isp_api.h"

// Keeps the device list current; while a run is going on it only records
// that a refresh is due. With automatic download on, an arrival has every
// slot it names configured, lowest first, once the list holds them. Never
// waits for another thread's search or run: the library may call it on any
// thread, from inside its own calls or under its own lock.
int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count);
