// State shared by the dialog's thread, the worker threads and the library's
// callback thread. It lives for the whole process.
//
// Locks, all short and never taken by the dialog's thread while another
// thread could hold them across a dialog access:
//   DeviceTableLock   leaf lock around DeviceTable reads and writes
//   CurrentOptionLock leaf lock around CurrentOption
//   BusyLock          pairs ConfigBusy with RefreshPending (no lost refresh)
// Longer locks (held across dialog access, taken only off the dialog's
// thread) live with the code they serialise: runs and refreshes.
#pragma once

#include "core_mutex.h"
#include "isp_api.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr uint32_t kDeviceSlots = 16;

extern std::array<IspDeviceInfo, kDeviceSlots> DeviceTable;
extern CoreMutex DeviceTableLock;
// Number of valid slots as the library last said; may exceed kDeviceSlots if
// the library misbehaves, so readers bound it with ValidSlotCount().
extern std::atomic<uint32_t> DeviceCount;

extern IspOption CurrentOption;
extern CoreMutex CurrentOptionLock;

extern std::atomic<uint32_t> AutoDownload;
extern std::atomic<uint32_t> ConfigBusy;
extern std::atomic<uint32_t> RefreshPending;
extern CoreMutex BusyLock;

inline uint32_t ValidSlotCount() {
    uint32_t count = DeviceCount.load();
    return count < kDeviceSlots ? count : kDeviceSlots;
}

// Copy of one slot; a zero record for a slot beyond the table.
IspDeviceInfo CopyDeviceSlot(uint32_t slot);

// Mode field of the last accepted option record (0 after a refusal).
int32_t CurrentOptionMode();

// Back to the start-of-process state; for tests.
void ResetSharedState();
