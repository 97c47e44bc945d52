// Finding the attached programmers and showing them in the device list.
#pragma once

#include <cstdint>

// Asks for a search; returns DeviceCount. Searches are coalesced and never
// wait for each other: when no search is going on, this thread becomes the
// refresher and searches, refilling table and list, until no request is
// left; otherwise the request is recorded for the running refresher and the
// call returns at once. So two searches never interleave their list updates
// and no request is lost.
uint32_t RefreshDeviceList();

// The same for a device arrival with automatic download: once the refresher
// has run its last search it selects and configures each slot named in
// slotMask (bits 0 to 15), lowest first.
uint32_t RefreshDeviceListAndConfigure(uint32_t slotMask);

// Writes the info line of the selected entry; nothing without a selection.
void ShowDeviceInfo();

// Read-only view, for tests and diagnostics: a refresher is at work.
bool RefreshInProgress();
