// State shared by the dialog's thread, the worker threads and the library's
// callback thread. It lives for the whole process.
//
// Locks: DeviceTableLock and CurrentOptionLock are leaf locks around a copy.
// Like every lock of the core they are never held across a library call, a
// dialog access or a log line, so no thread ever waits for one for long.
#pragma once

#include "core_mutex.h"
#include "isp_api.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr uint32_t kDeviceSlots = kIspDeviceSlots;
// Bits of a device event mask that name table slots.
constexpr uint32_t kSlotMask = (1u << kDeviceSlots) - 1;

extern std::array<IspDeviceInfo, kDeviceSlots> DeviceTable;
extern CoreMutex DeviceTableLock;
// Number of valid slots as the library said in the search that filled the
// table (never an event's count, which describes another table); may exceed
// kDeviceSlots if the library misbehaves, so readers bound it with
// ValidSlotCount(). Written with the table, under its lock.
extern std::atomic<uint32_t> DeviceCount;

extern IspOption CurrentOption;
extern CoreMutex CurrentOptionLock;

extern std::atomic<uint32_t> AutoDownload;

inline uint32_t ValidSlotCount() {
    uint32_t count = DeviceCount.load();
    return count < kDeviceSlots ? count : kDeviceSlots;
}

// Copy of one slot; a zero record for a slot beyond the table.
IspDeviceInfo CopyDeviceSlot(uint32_t slot);
// Copy of a slot below the valid count; false for any other slot.
bool CopyValidSlot(uint32_t slot, IspDeviceInfo* device);
// Copy of the whole table, with its valid count.
std::array<IspDeviceInfo, kDeviceSlots> CopyDeviceTable(uint32_t* validCount);

// The first valid slot that holds device, with its record as it stands now;
// false when the device is no longer in the table.
bool FindDeviceSlot(const IspDeviceInfo& device, uint32_t* slot, IspDeviceInfo* found);

// Mode field of the last accepted option record (0 after a refusal).
int32_t CurrentOptionMode();

#if CORE_TESTING
// Back to the start-of-process state, the coordination and the close guard
// included; for the tests only (not in the tool).
void ResetSharedState();
#endif
