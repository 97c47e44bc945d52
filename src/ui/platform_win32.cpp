// The platform seams of the device logic on Windows: the payload resource,
// the debugger output and worker threads.
#include "platform.h"

#include "resource.h"
#include "win32_handles.h"
#include "worker_jobs.h"

#include <windows.h>

#include <array>
#include <utility>

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
// One thread entry per job, so the job travels in the entry and the one
// pointer-sized argument carries the job's 32-bit argument.
template <size_t Job> DWORD WINAPI JobThread(LPVOID argument) {
    return RunWorkerJob(static_cast<WorkerJob>(Job),
                        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument)));
}

template <size_t... Jobs>
constexpr std::array<LPTHREAD_START_ROUTINE, sizeof...(Jobs)>
JobThreads(std::index_sequence<Jobs...>) {
    return {JobThread<Jobs>...};
}

constexpr auto kJobThreads = JobThreads(std::make_index_sequence<kWorkerJobCount>());
} // namespace

bool StartWorkerThread(WorkerJob job, uint32_t argument) {
    const size_t index = static_cast<size_t>(job);
    if (index >= kJobThreads.size())
        return false;
    // Detached: the handle is closed at once and nobody waits for the thread.
    UniqueHandle thread(CreateThread(nullptr, 0, kJobThreads[index],
                                     reinterpret_cast<LPVOID>(static_cast<uintptr_t>(argument)), 0,
                                     nullptr));
    return thread.valid();
}
