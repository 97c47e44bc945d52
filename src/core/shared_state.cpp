#include "shared_state.h"

#include "close_guard.h"
#include "device_coordination.h"

#include <cstring>

std::array<IspDeviceInfo, kDeviceSlots> DeviceTable{};
CoreMutex DeviceTableLock;
std::atomic<uint32_t> DeviceCount{0};

IspOption CurrentOption{};
CoreMutex CurrentOptionLock;

std::atomic<uint32_t> AutoDownload{0};

IspDeviceInfo CopyDeviceSlot(uint32_t slot) {
    IspDeviceInfo device{};
    if (slot < kDeviceSlots) {
        CoreLock lock(DeviceTableLock);
        device = DeviceTable[slot];
    }
    return device;
}

bool CopyValidSlot(uint32_t slot, IspDeviceInfo* device) {
    CoreLock lock(DeviceTableLock);
    if (slot >= ValidSlotCount())
        return false;
    *device = DeviceTable[slot];
    return true;
}

std::array<IspDeviceInfo, kDeviceSlots> CopyDeviceTable(uint32_t* validCount) {
    CoreLock lock(DeviceTableLock);
    *validCount = ValidSlotCount();
    return DeviceTable;
}

bool FindDeviceSlot(const IspDeviceInfo& device, uint32_t* slot, IspDeviceInfo* found) {
    CoreLock lock(DeviceTableLock);
    const uint32_t count = ValidSlotCount();
    for (uint32_t i = 0; i < count; ++i) {
        if (SameDevice(DeviceTable[i], device)) {
            *slot = i;
            *found = DeviceTable[i];
            return true;
        }
    }
    return false;
}

int32_t CurrentOptionMode() {
    CoreLock lock(CurrentOptionLock);
    return static_cast<int32_t>(IspGetU32(CurrentOption, isp_option::kMode));
}

#if CORE_TESTING
void ResetSharedState() {
    {
        CoreLock lock(DeviceTableLock);
        std::memset(DeviceTable.data(), 0, sizeof(DeviceTable));
    }
    {
        CoreLock lock(CurrentOptionLock);
        std::memset(&CurrentOption, 0, sizeof(CurrentOption));
    }
    DeviceCount = 0;
    AutoDownload = 0;
    ResetDeviceCoordination();
    ResetCloseGuard();
}
#endif
