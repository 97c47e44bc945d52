#include "config_image.h"

#include <cstring>

namespace {
void PutBigEndian32(ConfigImageBytes& image, uint32_t offset, uint32_t value) {
    image[offset] = uint8_t(value >> 24);
    image[offset + 1] = uint8_t(value >> 16);
    image[offset + 2] = uint8_t(value >> 8);
    image[offset + 3] = uint8_t(value);
}
} // namespace

ImageStatus ComposeConfigImage(const uint8_t* payload, uint32_t payloadSize,
                               const ConfigSettings& settings, ConfigImageBytes& image) {
    using namespace config_block;
    image.fill(kErased);
    if (payload == nullptr || payloadSize == 0)
        return ImageStatus::PayloadMissing;
    if (payloadSize > kMaxPayloadSize)
        return ImageStatus::PayloadTooLarge;
    std::memcpy(image.data(), payload, payloadSize);

    if (settings.countLimitEnabled && settings.countLimit != 0)
        PutBigEndian32(image, kCountLimit, settings.countLimit);
    image[kPortSelect] = uint8_t(settings.portIndex < kPortCount ? settings.portIndex : 0);
    if (settings.waitTimeMs != 0)
        PutBigEndian32(image, kWaitTime, settings.waitTimeMs);
    if (settings.machineSignal)
        image[kMachineSignal] = kOn;
    if (settings.keepPower)
        image[kKeepPower] = kOn;
    std::memset(image.data() + kMarker, kMarkerByte, kMarkerLength);
    return ImageStatus::Ok;
}
