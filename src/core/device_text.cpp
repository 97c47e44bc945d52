#include "device_text.h"

#include <cstdio>

void FormatUidLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    const uint8_t* u = device.uniqueId;
    std::snprintf(buffer, size, "%d#ISP DEV:%02X-%02X-%02X-%02X-%02X-%02X",
                  static_cast<int>(device.deviceId), u[0], u[1], u[2], u[3], u[4], u[5]);
}

void FormatNameLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    // The library promises a terminator within the record; do not rely on it.
    std::snprintf(buffer, size, "%d#ISP DEV:%.*s", static_cast<int>(device.deviceId),
                  static_cast<int>(kIspDeviceNameSize), device.name);
}

void FormatInfoLine(char* buffer, size_t size, const IspDeviceInfo& device) {
    const uint8_t* u = device.uniqueId;
    std::snprintf(buffer, size, "UID:%02X-%02X-%02X-%02X-%02X-%02X,BTVER:%04X", u[0], u[1], u[2],
                  u[3], u[4], u[5], static_cast<unsigned>(device.bootVersion));
}
