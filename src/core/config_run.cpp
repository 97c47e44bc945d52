#include "config_run.h"

#include "busy_handshake.h"
#include "close_guard.h"
#include "config_image.h"
#include "core_mutex.h"
#include "cp936_texts.h"
#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "platform.h"
#include "resource.h"
#include "shared_state.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace {
// Requests waiting for the runner. The buttons are disabled while a run
// writes and an arrival names at most 16 slots, so a few are ever waiting.
constexpr size_t kRunQueueSize = 32;

// A leaf lock around the queue and the runner's role; nothing is called
// while it is held.
CoreMutex RunQueueLock;
std::array<uint32_t, kRunQueueSize> RunQueue{};
size_t RunQueueHead = 0;
size_t RunQueueLength = 0;
bool RunnerActive = false;

// The one image buffer. Only the runner touches it, and there is one runner.
ConfigImageBytes RunImage;

constexpr size_t kLabelSize = 128;
constexpr size_t kResultSize = 128;

enum class Queued { Refused, ForRunner, BecameRunner };

Queued QueueRun(uint32_t index) {
    CoreLock lock(RunQueueLock);
    if (RunQueueLength == kRunQueueSize)
        return Queued::Refused;
    RunQueue[(RunQueueHead + RunQueueLength) % kRunQueueSize] = index;
    ++RunQueueLength;
    if (RunnerActive)
        return Queued::ForRunner;
    RunnerActive = true;
    return Queued::BecameRunner;
}

// The runner's next request; false when none is left, and the runner's role
// is given up in the same step, so a request is never left without one.
bool TakeNextRun(uint32_t* index) {
    CoreLock lock(RunQueueLock);
    if (RunQueueLength == 0) {
        RunnerActive = false;
        return false;
    }
    *index = RunQueue[RunQueueHead];
    RunQueueHead = (RunQueueHead + 1) % kRunQueueSize;
    --RunQueueLength;
    return true;
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

// Rebuilds RunImage from the program's payload and the option controls.
// Returns false, after logging why, when the payload is unusable.
bool BuildRunImage() {
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    if (!LoadFirmwarePayload(&payload, &size)) {
        payload = nullptr;
        size = 0;
    }
    // Settings are read even for a bad payload so the controls are read at
    // the same moment of every run.
    const ConfigSettings settings = ReadConfigSettings();
    switch (ComposeConfigImage(payload, size, settings, RunImage)) {
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

// Ends the busy state and posts at most one click: the close a user asked
// for during this write, else the search an event asked for during the run.
void FinishRun(bool wrote) {
    const bool closeDue = wrote && EndWrite();
    const bool refreshDue = EndConfigRun();
    if (closeDue)
        Dialog().PostClick(kCloseCommandId);
    else if (refreshDue)
        Dialog().PostClick(IDC_FIND_DEVICES);
}

void RunOnce(uint32_t index) {
    BeginConfigRun();

    // The table has 16 slots whatever the library says the count is.
    if (index >= kDeviceSlots || index >= DeviceCount.load()) {
        LogPrintf("Invalid device index(%d)", static_cast<int>(index));
        FinishRun(false);
        return;
    }

    // One copy of the slot: the label and the device id cannot disagree even
    // if a refresh rewrites the table during the write.
    const IspDeviceInfo device = CopyDeviceSlot(index);
    char label[kLabelSize];
    FormatUidLabel(label, sizeof(label), device);

    if (!BuildRunImage()) {
        ReportOutcome(label, false);
        SetButtons(true);
        FinishRun(false);
        return;
    }

    // The tool is closing: this run ends without a trace.
    if (!BeginWrite()) {
        EndConfigRun();
        return;
    }
    LogPrintf("<%s> begin config...", label);
    SetButtons(false);
    int32_t written =
        Tamla_FlashProgramB(device.deviceId, RunImage.data(), kConfigImageSize, 1, 0, 0, 0);
    ReportOutcome(label, written != 0);
    SetButtons(true);
    FinishRun(true);
}
} // namespace

uint32_t ConfigureDevice(uint32_t index) {
    switch (QueueRun(index)) {
    case Queued::Refused:
        LogPrintf("Too many configuration requests waiting; device index(%d) not configured",
                  static_cast<int>(index));
        return 0;
    case Queued::ForRunner:
        return 0;
    case Queued::BecameRunner:
        break;
    }
    uint32_t next = 0;
    while (TakeNextRun(&next))
        RunOnce(next);
    return 0;
}
