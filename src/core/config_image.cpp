#include "config_image.h"

#include "dialog_access.h"
#include "platform.h"
#include "resource.h"

#include <cstring>

ConfigImageBytes ConfigImage;

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

ConfigSettings ReadConfigSettings() {
    DialogAccess& dialog = Dialog();
    ConfigSettings settings{};
    settings.countLimitEnabled = dialog.IsChecked(IDC_LIMIT_COUNT);
    if (settings.countLimitEnabled)
        settings.countLimit = dialog.ReadUnsigned(IDC_COUNT_LIMIT);
    int port = dialog.GetSelection(IDC_PORT_SELECT);
    settings.portIndex =
        port >= 0 && uint32_t(port) < config_block::kPortCount ? uint32_t(port) : 0;
    settings.waitTimeMs = dialog.ReadUnsigned(IDC_WAIT_TIME);
    settings.machineSignal = dialog.IsChecked(IDC_MACHINE_SIGNAL);
    settings.keepPower = dialog.IsChecked(IDC_KEEP_POWER);
    return settings;
}

ImageBuildResult BuildConfigImage() {
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    if (!LoadFirmwarePayload(&payload, &size)) {
        payload = nullptr;
        size = 0;
    }
    // Settings are read even for a bad payload so the controls are read at
    // the same moment of every run.
    ConfigSettings settings = ReadConfigSettings();
    return {ComposeConfigImage(payload, size, settings, ConfigImage), size};
}
