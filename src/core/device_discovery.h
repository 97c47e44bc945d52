// Finding the attached programmers and showing them in the device list.
#pragma once

#include <cstddef>
#include <cstdint>

// Asks for a search; returns DeviceCount. Searches are coalesced and never
// wait for each other: when no search is going on, this thread becomes the
// refresher and searches, refilling table and list, until no request is
// left; otherwise the request is recorded for the running refresher and the
// call returns at once. So two searches never interleave their list updates
// and no request is lost.
uint32_t RefreshDeviceList();

// The same for a device event; arrivals names the slots (bits 0 to 15) of
// devices to configure once they are in the list (automatic download).
// Requests on a thread that is inside a Tamla_EnumDevices call the tool made
// are answered by that call: the library reports there what its table
// already holds, so they start no further search, and a library that calls
// back from inside every search cannot keep the tool searching. Each arrival
// slot is turned into the device it names, by id and unique id, in the table
// of the first search that started after the event (or of the call it came
// inside); when a search runs on another thread, this thread reads the table
// itself at once, since a later change may shift the slots. Each such device
// is then written once, wherever it is when its run starts, lowest slot
// first. Returns how many runs this thread ran.
size_t HandleDeviceChange(uint32_t arrivals);

// Writes the info line of the selected entry; nothing without a selection.
void ShowDeviceInfo();

// Read-only view, for tests and diagnostics: a refresher is at work.
bool RefreshInProgress();
