#include "config_run.h"

#include "close_guard.h"
#include "config_image.h"
#include "cp936_texts.h"
#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "platform.h"
#include "resource.h"
#include "device_discovery.h"
#include "shared_state.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace {
// The one image buffer. Only the thread at work on the devices touches it.
ConfigImageBytes ConfigImage;

constexpr size_t kLabelSize = 128;
constexpr size_t kResultSize = 128;

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

// Fills the tool's image from the program's payload and the option controls,
// read now. Returns false, after logging why, when the payload is unusable.
bool BuildConfigImage() {
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    if (!LoadFirmwarePayload(&payload, &size)) {
        payload = nullptr;
        size = 0;
    }
    // Settings are read even for a bad payload so the controls are read at
    // the same moment of every run.
    const ConfigSettings settings = ReadConfigSettings();
    switch (ComposeConfigImage(payload, size, settings, ConfigImage)) {
    case ImageStatus::Ok:
        return true;
    case ImageStatus::PayloadMissing:
        LogPrintf("Firmware payload missing");
        return false;
    case ImageStatus::PayloadTooLarge:
        LogPrintf("Firmware payload too large (%u bytes)", size);
        return false;
    }
    return false;
}

void ReportOutcome(const char* label, bool succeeded) {
    char result[kResultSize];
    if (succeeded) {
        LogPrintf("<%s> config succ", label);
        std::snprintf(result, sizeof(result), "%s", kTextConfigSucceeded);
    } else {
        LogPrintf("<%s> config failure.", label);
        std::snprintf(result, sizeof(result), "%s", kTextConfigFailed);
    }
    Dialog().SetText(IDC_DOWNLOAD_COUNT, result);
}

// The slot and record a request writes, as they stand when its run starts.
// False, after logging why, when there is nothing to write.
bool ResolveTarget(const RunRequest& request, uint32_t* slot, IspDeviceInfo* device) {
    if (request.kind == RunRequest::Kind::NoDevice) {
        LogPrintf("Invalid device index(%d)", static_cast<int>(request.slot));
        return false;
    }
    if (!FindDeviceSlot(request.device, slot, device)) {
        char label[kLabelSize];
        FormatUidLabel(label, sizeof(label), request.device);
        LogPrintf("<%s> removed before config", label);
        return false;
    }
    // Selected first, as a user would before pressing configure; this does
    // not update the info line.
    if (request.kind == RunRequest::Kind::Arrival)
        Dialog().SelectEntry(IDC_DEVICE_LIST, static_cast<int>(*slot));
    return true;
}
} // namespace

bool RunConfiguration(const RunRequest& request) {
    if (CloseDecided())
        return false;
    // One copy of the record: the label and the device id cannot disagree.
    uint32_t slot = 0;
    IspDeviceInfo device{};
    if (!ResolveTarget(request, &slot, &device))
        return true;
    char label[kLabelSize];
    FormatUidLabel(label, sizeof(label), device);

    // This run has not disabled the buttons yet, so it leaves them alone.
    if (!BuildConfigImage()) {
        ReportOutcome(label, false);
        return true;
    }
    switch (BeginWrite()) {
    case WriteGate::Go:
        break;
    case WriteGate::Closing:
        return false; // the tool is closing: this run ends without a trace
    case WriteGate::SessionEnding:
        LogPrintf("<%s> not configured: the session is ending", label);
        return true;
    }
    LogPrintf("<%s> begin config...", label);
    EnableActionButtons(false);
    const int32_t written =
        Tamla_FlashProgramB(device.deviceId, ConfigImage.data(), kConfigImageSize, 1, 0, 0, 0);
    ReportOutcome(label, written != 0);
    EnableActionButtons(true);
    // A close asked for during the write closes once its outcome is shown.
    if (EndWrite())
        Dialog().PostClick(kCloseCommandId);
    return true;
}
