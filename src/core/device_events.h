// The library's device event callback.
#pragma once

#include "isp_api.h"

// Keeps the device list current; while a run is going on it only records
// that a refresh is due. With automatic download on, configures every device
// an arrival names, lowest slot first.
int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count);
