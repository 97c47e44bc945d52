// Encoding of the option record's 4-byte callback field.
#include "isp_api.h"

#include <array>
#include <atomic>

#if defined(_WIN32)

// The address itself. The 32-bit tool's always fits; the x64 twin links its
// image below 4 GiB so that it does, and an address above that gives 0 (no
// callback) rather than a truncated one the library would call.
uint32_t IspEncodeCallback(DeviceEventCallback callback) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(callback);
    return static_cast<uint64_t>(address) >> 32 == 0 ? static_cast<uint32_t>(address) : 0;
}

DeviceEventCallback IspDecodeCallback(uint32_t field) {
    return reinterpret_cast<DeviceEventCallback>(static_cast<uintptr_t>(field));
}

#else

// Host builds: a handle is 1 + the index in a small table of the callbacks
// seen so far; 0 stays "no callback". The table only grows, so a handle read
// by another thread never changes meaning.
namespace {
constexpr size_t kMaxCallbacks = 8;
std::array<std::atomic<DeviceEventCallback>, kMaxCallbacks> g_callbacks{};
} // namespace

uint32_t IspEncodeCallback(DeviceEventCallback callback) {
    if (callback == nullptr)
        return 0;
    for (size_t i = 0; i < kMaxCallbacks; ++i) {
        DeviceEventCallback expected = nullptr;
        if (g_callbacks[i].compare_exchange_strong(expected, callback) || expected == callback)
            return static_cast<uint32_t>(i + 1);
    }
    return 0;
}

DeviceEventCallback IspDecodeCallback(uint32_t field) {
    if (field == 0 || field > kMaxCallbacks)
        return nullptr;
    return g_callbacks[field - 1].load();
}

#endif
