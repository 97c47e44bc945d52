// Slots, masks and device records of the simulated programmers.
#include "sim_devices.h"

#include <cstring>

SimDevice MakeSimDevice(const SimDeviceFields& fields) {
    SimDevice device;
    device.id = fields.id;
    if (fields.hasUid) {
        std::memcpy(device.uid, fields.uid, sizeof device.uid);
    } else {
        const uint8_t derived[6] = {0x70,
                                    0x00,
                                    uint8_t(fields.id >> 24),
                                    uint8_t(fields.id >> 16),
                                    uint8_t(fields.id >> 8),
                                    uint8_t(fields.id)};
        std::memcpy(device.uid, derived, sizeof device.uid);
    }
    device.boot = fields.hasBoot ? fields.boot : uint16_t(0x0200 | (fields.id & 0xFF));
    device.name = fields.hasName ? fields.name : "PROG-" + std::to_string(fields.id);
    return device;
}

void AttachDefaultDevices(SimDeviceSet& set) {
    const SimDevice defaults[] = {
        {1, {0x3A, 0x01, 0x7F, 0x00, 0x12, 0xC4}, 0x0210, "PROG-A"},
        {2, {0x5C, 0x22, 0x91, 0x00, 0x47, 0xE1}, 0x0211, "PROG-B"},
    };
    uint32_t mask = 0;
    for (const SimDevice& device : defaults)
        AttachDevice(set, device, mask);
}

int FindSlot(const SimDeviceSet& set, uint32_t id) {
    for (size_t i = 0; i < set.slots.size(); ++i) {
        if (set.slots[i].id == id)
            return int(i);
    }
    return -1;
}

uint32_t AllSlotsMask(const SimDeviceSet& set) {
    return set.slots.empty() ? 0 : uint32_t((uint64_t(1) << set.slots.size()) - 1);
}

SimAttach AttachDevice(SimDeviceSet& set, const SimDevice& device, uint32_t& slotMask) {
    slotMask = 0;
    if (FindSlot(set, device.id) >= 0)
        return SimAttach::Duplicate;
    if (set.slots.size() >= kSimMaxDevices)
        return SimAttach::Full;
    set.slots.push_back(device);
    slotMask = uint32_t(1) << (set.slots.size() - 1);
    return SimAttach::Attached;
}

bool DetachDevice(SimDeviceSet& set, uint32_t id, uint32_t& slotMask) {
    slotMask = 0;
    int slot = FindSlot(set, id);
    if (slot < 0)
        return false;
    set.slots.erase(set.slots.begin() + slot);
    slotMask = uint32_t(1) << slot;
    return true;
}

uint32_t DetachAllDevices(SimDeviceSet& set) {
    uint32_t mask = AllSlotsMask(set);
    set.slots.clear();
    return mask;
}

void FillDeviceRecord(const SimDevice& device, bool unterminated, IspDeviceInfo& record) {
    std::memset(&record, 0, sizeof record);
    record.deviceId = device.id;
    record.bootVersion = device.boot;
    std::memcpy(record.uniqueId, device.uid, sizeof record.uniqueId);
    size_t length = device.name.size() < kSimMaxNameLength ? device.name.size() : kSimMaxNameLength;
    std::memcpy(record.name, device.name.data(), length);
    if (unterminated)
        std::memset(record.name + length, '#', kIspDeviceNameSize - length);
}
