// Finding the attached programmers and showing them in the device list.
#pragma once

#include <cstdint>

// Searches, refills the table and the list; returns DeviceCount. Refreshes
// are serialised: one from a worker and one from the library's callback
// thread never interleave their table and list updates.
uint32_t RefreshDeviceList();

// Writes the info line of the selected entry; nothing without a selection.
void ShowDeviceInfo();
