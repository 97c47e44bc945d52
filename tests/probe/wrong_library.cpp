// Small wrong TAMLAISPDLL.DLLs for the library probe's tests, each breaking
// one thing the tool assumes; the build picks the way (WRONG_*). Each
// reports one programmer.
// The records of the library's header; its declarations of the exports,
// stdcall and under the right names, are set aside for this library's own.
#define Tamla_EnumDevices Declared_EnumDevices
#define Tamla_SetIspOption Declared_SetIspOption
#define Tamla_FlashProgramB Declared_FlashProgramB
#include "isp_api.h"
#undef Tamla_EnumDevices
#undef Tamla_SetIspOption
#undef Tamla_FlashProgramB

#include <windows.h>

#include <cstdio>
#include <cstring>

#if defined(WRONG_CDECL)
#define WRONG_CALL __cdecl
#else
#define WRONG_CALL __stdcall
#endif

#if defined(WRONG_NO_NAMES)
#define WRONG_EXPORT(name) Other_##name
#else
#define WRONG_EXPORT(name) Tamla_##name
#endif

namespace {
#if defined(WRONG_THREAD_CRASH)
// A thread of the library's own that crashes a moment after registration,
// while the caller goes on with its calls.
DWORD WINAPI CrashSoon(void*) {
    Sleep(100);
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile uint32_t*>(address) = 1;
    return 0;
}
LONG g_threadStarted = 0;
#elif defined(WRONG_STACK_OVERFLOW)
// A page of stack per level, far deeper than any stack.
uint32_t Deep(uint32_t depth) {
    volatile uint8_t page[4096];
    page[0] = static_cast<uint8_t>(depth);
    return depth == 0 ? page[0] : Deep(depth - 1) + page[0];
}
#endif

void FillDevice(IspDeviceInfo& device, uint32_t id) {
    std::memset(&device, 0, sizeof device);
    device.deviceId = id;
    device.bootVersion = 0x0300;
    const uint8_t uid[6] = {0xAB, 0xCD, 0, 0, 0, static_cast<uint8_t>(id)};
    std::memcpy(device.uniqueId, uid, sizeof uid);
    std::snprintf(device.name, sizeof device.name, "WRONG-%u", static_cast<unsigned>(id));
}
} // namespace

extern "C" {

__declspec(dllexport) int32_t WRONG_CALL WRONG_EXPORT(SetIspOption)(IspOption* option) {
    if (option == nullptr)
        return 0;
#if defined(WRONG_OVERRUN)
    // Fills in a path of its own: a record rewritten past its mode field.
    std::memcpy(option->bytes + isp_option::kPath1, "C:\\", 3);
#elif defined(WRONG_THREAD_CRASH)
    if (InterlockedExchange(&g_threadStarted, 1) == 0)
        CloseHandle(CreateThread(nullptr, 0, CrashSoon, nullptr, 0, nullptr));
#endif
    return 1;
}

__declspec(dllexport) int32_t WRONG_CALL
    WRONG_EXPORT(EnumDevices)(IspDeviceInfo* devices, uint32_t maxCount) {
#if defined(WRONG_CRASH)
    // A write into the first page, which is never mapped.
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile uint32_t*>(address) = maxCount;
#elif defined(WRONG_HANG)
    Sleep(INFINITE);
#elif defined(WRONG_EXIT)
    ExitProcess(7);
#elif defined(WRONG_STACK_OVERFLOW)
    if (Deep(1u << 20) == maxCount)
        return -1;
#endif
#if defined(WRONG_OVERRUN)
    // Two records more than it was given room for.
    const uint32_t written = maxCount + 2;
#elif defined(WRONG_PAST_ROOM)
    // Twenty more: past the sixteen the tool has to spare.
    const uint32_t written = maxCount + 20;
#else
    // Clears every slot it was given first, as some libraries do.
    std::memset(devices, 0, sizeof(IspDeviceInfo) * maxCount);
    const uint32_t written = maxCount < 1 ? maxCount : 1;
#endif
    for (uint32_t i = 0; i < written; ++i)
        FillDevice(devices[i], i + 1);
    return maxCount < 1 ? static_cast<int32_t>(maxCount) : 1;
}

__declspec(dllexport) int32_t WRONG_CALL
    WRONG_EXPORT(FlashProgramB)(uint32_t, const uint8_t*, uint32_t, int32_t, int32_t, int32_t,
                                int32_t) {
    return 0;
}

} // extern "C"
