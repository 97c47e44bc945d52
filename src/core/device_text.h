// Texts that show a device record: list labels and the info line.
#pragma once

#include "isp_api.h"

#include <cstddef>

// "%d#ISP DEV:%02X-%02X-%02X-%02X-%02X-%02X": device id and unique id.
void FormatUidLabel(char* buffer, size_t size, const IspDeviceInfo& device);
// "%d#ISP DEV:%s": device id and name, the name bounded to its 50 bytes.
void FormatNameLabel(char* buffer, size_t size, const IspDeviceInfo& device);
// "UID:%02X-%02X-%02X-%02X-%02X-%02X,BTVER:%04X", always 32 characters.
void FormatInfoLine(char* buffer, size_t size, const IspDeviceInfo& device);
