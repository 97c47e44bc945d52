// What the device logic needs from the platform beyond the dialog. The
// Windows front end supplies the real ones; the native tests supply fakes.
#pragma once

#include <cstdint>

// The firmware payload carried by the program, looked up afresh on every
// call. Returns false when there is none.
bool LoadFirmwarePayload(const uint8_t** data, uint32_t* size);

// The platform's debugger output channel.
void WriteDebugOutput(const char* text);

enum class WorkerJob { Configure, Refresh };

// Starts a detached thread running the job with its one argument (the device
// index, or 0 for a search). Failure is not reported.
void StartWorkerThread(WorkerJob job, uint32_t argument);
