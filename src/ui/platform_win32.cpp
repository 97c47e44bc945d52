// The platform seams of the device logic on Windows: the payload resource,
// the debugger output and worker threads.
#include "platform.h"

#include "resource.h"
#include "win32_handles.h"
#include "worker_jobs.h"

#include <windows.h>

#include <cstdint>

bool LoadFirmwarePayload(const uint8_t** data, uint32_t* size) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_FIRMWARE), "BIN");
    if (found == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr)
        return false;
    DWORD length = SizeofResource(nullptr, found);
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr || length == 0)
        return false;
    *data = static_cast<const uint8_t*>(bytes);
    *size = length;
    return true;
}

// The CP936 bytes as they are, on any system: a listener gets them intact
// and can decode them as CP936. OutputDebugStringW would hand most
// listeners a conversion to the system code page, with '?' for every
// Chinese character where that is not 936.
void WriteDebugOutput(const char* text) { OutputDebugStringA(text); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

namespace {
DWORD WINAPI WorkerThread(LPVOID argument) {
    return RunWorkerJob(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument)));
}
} // namespace

bool StartWorkerThread(uint32_t argument) {
    // Detached: the handle is closed at once and nobody waits for the thread.
    UniqueHandle thread(CreateThread(nullptr, 0, WorkerThread,
                                     reinterpret_cast<LPVOID>(static_cast<uintptr_t>(argument)), 0,
                                     nullptr));
    return thread.valid();
}
