// The set of attached simulated programmers. Devices occupy slots 0, 1, 2...
// in attachment order; a detach closes the gap, so slot i is always the i-th
// record Tamla_EnumDevices reports and bit i of an event mask.
#pragma once

#include "isp_api.h"
#include "sim_command.h"

#include <cstdint>
#include <string>
#include <vector>

// Event masks are 16 bits wide, so at most this many devices are attached.
constexpr size_t kSimMaxDevices = 16;

struct SimDevice {
    uint32_t id = 0;
    uint8_t uid[6] = {};
    uint16_t boot = 0;
    std::string name;
};

struct SimDeviceSet {
    std::vector<SimDevice> slots;
};

// Fills what the fields leave out with values derived from the id:
// uid 70 00 followed by the id's four bytes, boot 02xx with xx the id's low
// byte, name "PROG-<id>".
SimDevice MakeSimDevice(const SimDeviceFields& fields);

// The two programmers attached when there is no scenario file.
void AttachDefaultDevices(SimDeviceSet& set);

// Slot of the device with that id, or -1.
int FindSlot(const SimDeviceSet& set, uint32_t id);

// Bit i set for every occupied slot i.
uint32_t AllSlotsMask(const SimDeviceSet& set);

enum class SimAttach { Attached, Duplicate, Full };

// Appends the device; `slotMask` gets the bit of its new slot.
SimAttach AttachDevice(SimDeviceSet& set, const SimDevice& device, uint32_t& slotMask);

// Removes the device; `slotMask` gets the bit of the slot it had. False when
// no device has that id.
bool DetachDevice(SimDeviceSet& set, uint32_t id, uint32_t& slotMask);

// Removes every device; returns the mask of the slots they had.
uint32_t DetachAllDevices(SimDeviceSet& set);

// The record the library hands out for a device. With `unterminated`, the
// name is padded with '#' to fill all 50 bytes and has no terminator.
void FillDeviceRecord(const SimDevice& device, bool unterminated, IspDeviceInfo& record);
