// The 61440-byte flash image written into a programmer: its firmware payload,
// erased space, and the configuration block that the firmware reads. Made
// from values only; where they come from is the configuration run's affair.
#pragma once

#include <array>
#include <cstdint>

constexpr uint32_t kConfigImageSize = 0xF000;
constexpr uint32_t kMaxPayloadSize = 0x9BF0; // the payload must end before the block

namespace config_block {
constexpr uint32_t kCountLimit = 0x9BF0;    // 4 bytes, most significant first
constexpr uint32_t kPortSelect = 0x9C04;    // 1 byte, 0..7
constexpr uint32_t kWaitTime = 0x9C08;      // 4 bytes, most significant first
constexpr uint32_t kMachineSignal = 0x9C0C; // 0xAA when on
constexpr uint32_t kKeepPower = 0x9C10;     // 0xAA when on
constexpr uint32_t kMarker = 0xA000;        // 14 bytes of 0xBB
constexpr uint32_t kMarkerLength = 14;

constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kOn = 0xAA;
constexpr uint8_t kMarkerByte = 0xBB;
constexpr uint32_t kPortCount = 8;

static_assert(kCountLimit == kMaxPayloadSize, "block starts where the payload must end");
static_assert(kCountLimit + 4 <= kPortSelect && kPortSelect < kWaitTime);
static_assert(kWaitTime + 4 <= kMachineSignal && kMachineSignal < kKeepPower);
static_assert(kKeepPower < kMarker && kMarker + kMarkerLength <= kConfigImageSize);
} // namespace config_block

struct ConfigSettings {
    bool countLimitEnabled;
    uint32_t countLimit; // read only when enabled; 0 means not set
    uint32_t portIndex;  // 0..7
    uint32_t waitTimeMs; // 0 means not set
    bool machineSignal;
    bool keepPower;
};

enum class ImageStatus { Ok, PayloadMissing, PayloadTooLarge };

using ConfigImageBytes = std::array<uint8_t, kConfigImageSize>;

// Pure: the image for a payload and settings. On a bad payload the image is
// left erased and the status says why.
ImageStatus ComposeConfigImage(const uint8_t* payload, uint32_t payloadSize,
                               const ConfigSettings& settings, ConfigImageBytes& image);
