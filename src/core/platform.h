// What the device logic needs from the platform beyond the dialog. The
// Windows front end supplies the real ones; the native tests supply fakes.
#pragma once

#include <cstddef>
#include <cstdint>

// The firmware payload carried by the program, looked up afresh on every
// call. Returns false when there is none.
bool LoadFirmwarePayload(const uint8_t** data, uint32_t* size);

// The platform's debugger output channel.
void WriteDebugOutput(const char* text);

// A number that tells the calling thread from every other running thread.
uint32_t CurrentThreadId();

// Starts a detached thread that calls RunWorkerJob(argument) (worker_jobs.h).
// Returns whether the thread started.
bool StartWorkerThread(uint32_t argument);
