#include "shared_state.h"

#include <cstring>

std::array<IspDeviceInfo, kDeviceSlots> DeviceTable{};
std::mutex DeviceTableLock;
std::atomic<uint32_t> DeviceCount{0};

IspOption CurrentOption{};
std::mutex CurrentOptionLock;

std::atomic<uint32_t> AutoDownload{0};
std::atomic<uint32_t> ConfigBusy{0};
std::atomic<uint32_t> RefreshPending{0};
std::mutex BusyLock;

IspDeviceInfo CopyDeviceSlot(uint32_t slot) {
    IspDeviceInfo device{};
    if (slot < kDeviceSlots) {
        std::lock_guard<std::mutex> lock(DeviceTableLock);
        device = DeviceTable[slot];
    }
    return device;
}

int32_t CurrentOptionMode() {
    std::lock_guard<std::mutex> lock(CurrentOptionLock);
    return static_cast<int32_t>(IspGetU32(CurrentOption, isp_option::kMode));
}

void ResetSharedState() {
    {
        std::lock_guard<std::mutex> lock(DeviceTableLock);
        std::memset(DeviceTable.data(), 0, sizeof(DeviceTable));
    }
    {
        std::lock_guard<std::mutex> lock(CurrentOptionLock);
        std::memset(&CurrentOption, 0, sizeof(CurrentOption));
    }
    DeviceCount = 0;
    AutoDownload = 0;
    ConfigBusy = 0;
    RefreshPending = 0;
}
