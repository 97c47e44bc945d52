// The platform seams of the native tests: the firmware payload, the debugger
// output and worker threads.
#pragma once

#include "platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake_platform {
// The payload LoadFirmwarePayload hands out; missing makes it fail.
void SetPayload(std::vector<uint8_t> payload);
void SetPayloadMissing();
// Runs inside every LoadFirmwarePayload call, on the caller's thread.
void SetOnPayloadLoad(std::function<void()> hook);
// The stand-in firmware file of the build, as the Windows resource carries it.
std::vector<uint8_t> BuildPayload();

std::vector<std::string> DebugOutput();
void SetEchoDebugOutput(bool echo); // to standard error, as the host build does

struct WorkerStart {
    uint32_t argument; // a press's list entry, else 0
};
// Run workers on real threads (joined by JoinWorkers) or only record them.
void SetRunWorkers(bool run);
// No thread can be started: StartWorkerThread fails and records nothing.
void SetThreadsFail(bool fail);
std::vector<WorkerStart> WorkerStarts();
void JoinWorkers();

// Payload, debug output and worker records back to the start state.
void Reset();
} // namespace fake_platform
