// The attached programmers as the tool shows them: the device table, the
// device list and the info line. Searches themselves are coordinated in
// device_coordination.h, which also declares RefreshDeviceList.
#pragma once

#include "isp_api.h"
#include "shared_state.h"

#include <array>
#include <cstdint>

// Puts a search's answer in the table and the list: entry i is slot i, entry
// 0 selected with its info line; "Not found isp device" when result is 0.
void ShowDevices(const std::array<IspDeviceInfo, kDeviceSlots>& found, int32_t result);

// Writes the info line of the selected entry; nothing without a selection.
void ShowDeviceInfo();

// Find devices and configure, disabled while a search or a write runs.
void EnableActionButtons(bool enabled);
