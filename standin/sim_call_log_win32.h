// The call log D/calls.log and the dumps in D/dumps/: one line per call,
// event, command and error, written and flushed at once.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct SimCallLog {
    std::wstring folder; // the simulator folder, ends in a backslash
    SRWLOCK lock = SRWLOCK_INIT;
    HANDLE file = INVALID_HANDLE_VALUE;
    uint32_t nextSeq = 1;
};

// Notes the moment the DLL was loaded; every line counts its ms from it.
void StartCallLogClock();

// Starts a new D/calls.log (an old one is overwritten); dumps go to D/dumps/.
void OpenCallLog(SimCallLog& log, const std::wstring& folder);

void LogCall(SimCallLog& log, const std::string& text);

// Writes the dump under the line's own sequence number, then the line that
// makeText builds from "dump=<file>" (or "dump=failed"), so a reader that
// sees the line finds the dump complete.
void LogCallWithDump(SimCallLog& log, const char* kind, const void* data, size_t size,
                     const std::function<std::string(const std::string& dumpNote)>& makeText);
