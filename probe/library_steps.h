// The calls a tool session makes, made by the probe's child: two
// registrations of the tool's option record, then searches into a table
// with room past the tool's, followed by a no-access page.
#pragma once

#include "isp_api.h"

#include <cstddef>
#include <cstdint>

// Reserves the search table and its no-access page; false when the system
// refuses.
bool PrepareSearchTable();

// Registers the record the tool builds at start-up, with the probe's
// callback, as the tool does: twice.
void RunRegistrations();

// Searches twice with the tool's maxCount, then once with a maxCount
// smaller than the programmers found (never 0, which the tool never
// passes).
void RunSearches();

// One search as the watch makes it, reported as one line starting with
// what: the tool's maxCount into the probe's table; the result, bounded as
// the tool bounds it, and its records copied into table.
uint32_t SearchForWatch(IspDeviceInfo* table, const char* what);

// "id 1 "PROG-A" (3A-01-7F-00-12-C4)" for one record.
void DeviceShortText(char* buffer, size_t size, const IspDeviceInfo& device);
