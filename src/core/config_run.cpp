#include "config_run.h"

#include "config_image.h"
#include "cp936_texts.h"
#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "resource.h"
#include "shared_state.h"

#include <cstdio>
#include "core_mutex.h"

namespace {
// Held for a whole run, so the image buffer has one owner. Taken only by
// worker and callback threads, never by the dialog's thread.
CoreMutex RunLock;

constexpr size_t kLabelSize = 128;
constexpr size_t kResultSize = 128;

// Ends the busy state. The pending flag is read under the same lock the
// event handler uses to defer, so an event either is deferred before this
// read or sees the run over and refreshes by itself.
void FinishRun() {
    uint32_t pending;
    {
        CoreLock lock(BusyLock);
        pending = RefreshPending.load();
        ConfigBusy = 0;
    }
    if (pending != 0)
        Dialog().PostClick(IDC_FIND_DEVICES);
}

void SetButtons(bool enabled) {
    Dialog().Enable(IDC_FIND_DEVICES, enabled);
    Dialog().Enable(IDC_CONFIGURE, enabled);
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
} // namespace

uint32_t ConfigureDevice(uint32_t index) {
    CoreLock run(RunLock);
    ConfigBusy = 1;

    // The table has 16 slots whatever the library says the count is.
    if (index >= kDeviceSlots || index >= DeviceCount.load()) {
        LogPrintf("Invalid device index(%d)", static_cast<int>(index));
        FinishRun();
        return 0;
    }

    // One copy of the slot: the label and the device id cannot disagree even
    // if a refresh rewrites the table during the write.
    const IspDeviceInfo device = CopyDeviceSlot(index);
    char label[kLabelSize];
    FormatUidLabel(label, sizeof(label), device);

    ImageBuildResult image = BuildConfigImage();
    if (image.status != ImageStatus::Ok) {
        if (image.status == ImageStatus::PayloadMissing)
            LogPrintf("Firmware payload missing");
        else
            LogPrintf("Firmware payload too large (%u bytes)", image.payloadSize);
        ReportOutcome(label, false);
        SetButtons(true);
        FinishRun();
        return 0;
    }

    LogPrintf("<%s> begin config...", label);
    SetButtons(false);
    int32_t written =
        Tamla_FlashProgramB(device.deviceId, ConfigImage.data(), kConfigImageSize, 1, 0, 0, 0);
    ReportOutcome(label, written != 0);
    SetButtons(true);
    FinishRun();
    return 0;
}
