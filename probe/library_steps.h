// The calls a tool session makes, made by the probe: two registrations of
// the tool's option record, then searches into a guarded table.
#pragma once

#include "isp_api.h"

#include <cstddef>
#include <cstdint>

// Registers the record the tool builds at start-up, with the probe's
// callback, as the tool does: twice.
void RunRegistrations();

// Searches twice with the tool's 16 records, then once with a maxCount
// smaller than the programmers found.
void RunSearches();

// One search as the watch makes it, reported as one line starting with
// what: the tool's 16 records into table; the result, bounded to 0..16 as
// the tool bounds it.
uint32_t SearchForWatch(IspDeviceInfo* table, const char* what);

// "id 1 "PROG-A" (3A-01-7F-00-12-C4)" for one record.
void DeviceShortText(char* buffer, size_t size, const IspDeviceInfo& device);
