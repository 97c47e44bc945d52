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
// Requests waiting for the runner. A press of configure adds one, and a
// refresher adds the arrivals of its searches, up to 16 at a time; the
// buttons are disabled while a run writes, so more than that rarely wait.
constexpr size_t kRunQueueSize = 32;

// A leaf lock around the queue and the runner's role; nothing is called
// while it is held.
CoreMutex RunQueueLock;
std::array<RunRequest, kRunQueueSize> RunQueue{};
size_t RunQueueHead = 0;
size_t RunQueueLength = 0;
bool RunnerActive = false;

// The one image buffer. Only the runner touches it, and there is one runner.
ConfigImageBytes ConfigImage;

constexpr size_t kLabelSize = 128;
constexpr size_t kResultSize = 128;

// Queues what fits, in order, and says how much did. True when the caller
// has become the runner.
bool QueueRequests(const RunRequest* requests, size_t count, size_t* queued) {
    CoreLock lock(RunQueueLock);
    size_t taken = 0;
    for (; taken < count && RunQueueLength < kRunQueueSize; ++taken) {
        RunQueue[(RunQueueHead + RunQueueLength) % kRunQueueSize] = requests[taken];
        ++RunQueueLength;
    }
    *queued = taken;
    if (RunnerActive || RunQueueLength == 0)
        return false;
    RunnerActive = true;
    return true;
}

// The runner's next request; false when none is left, and the runner's role
// is given up in the same step, so a request is never left without one.
bool TakeNextRun(RunRequest* request) {
    CoreLock lock(RunQueueLock);
    if (RunQueueLength == 0) {
        RunnerActive = false;
        return false;
    }
    *request = RunQueue[RunQueueHead];
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
// for during this write, else the search an event asked for during the run,
// which a dialog that is closing no longer gets.
void FinishRun(bool wrote) {
    const bool closeDue = wrote && EndWrite();
    const bool refreshDue = EndConfigRun();
    if (closeDue)
        Dialog().PostClick(kCloseCommandId);
    else if (refreshDue)
        PostClickUnlessClosing(IDC_FIND_DEVICES);
}

// The slot and record a request writes, as they stand when its run starts.
// False, after logging why, when there is nothing to write.
bool ResolveTarget(const RunRequest& request, uint32_t* slot, IspDeviceInfo* device) {
    switch (request.kind) {
    case RunRequest::Kind::Slot:
        // The table has 16 slots whatever the library says the count is.
        if (request.slot < kDeviceSlots && request.slot < DeviceCount.load()) {
            *slot = request.slot;
            *device = CopyDeviceSlot(request.slot);
            return true;
        }
        break;
    case RunRequest::Kind::Arrival:
        // Selected first, as a user would before pressing configure; this
        // does not update the info line.
        if (FindDeviceSlot(request.device, slot, device)) {
            Dialog().SelectEntry(IDC_DEVICE_LIST, static_cast<int>(*slot));
            return true;
        } else {
            char label[kLabelSize];
            FormatUidLabel(label, sizeof(label), request.device);
            LogPrintf("<%s> removed before config", label);
            return false;
        }
    case RunRequest::Kind::NoDevice:
        Dialog().SelectEntry(IDC_DEVICE_LIST, static_cast<int>(request.slot));
        break;
    }
    LogPrintf("Invalid device index(%d)", static_cast<int>(request.slot));
    return false;
}

// One run; false when it ended without a trace because the tool is closing.
bool RunOnce(const RunRequest& request) {
    if (CloseDecided())
        return false;
    BeginConfigRun();

    // One copy of the record: the label and the device id cannot disagree
    // even if a refresh rewrites the table during the write.
    uint32_t slot = 0;
    IspDeviceInfo device{};
    if (!ResolveTarget(request, &slot, &device)) {
        FinishRun(false);
        return true;
    }
    char label[kLabelSize];
    FormatUidLabel(label, sizeof(label), device);

    // This run has not disabled the buttons yet, so it leaves them alone.
    if (!BuildConfigImage()) {
        ReportOutcome(label, false);
        FinishRun(false);
        return true;
    }

    // The tool is closing: this run ends without a trace.
    if (!BeginWrite()) {
        EndConfigRun();
        return false;
    }
    LogPrintf("<%s> begin config...", label);
    SetButtons(false);
    int32_t written =
        Tamla_FlashProgramB(device.deviceId, ConfigImage.data(), kConfigImageSize, 1, 0, 0, 0);
    ReportOutcome(label, written != 0);
    SetButtons(true);
    FinishRun(true);
    return true;
}
} // namespace

size_t QueueRuns(const RunRequest* requests, size_t count) {
    size_t queued = 0;
    const bool runner = QueueRequests(requests, count, &queued);
    for (size_t i = queued; i < count; ++i)
        LogPrintf("Too many configuration requests waiting; device index(%d) not configured",
                  static_cast<int>(requests[i].slot));
    if (!runner)
        return 0;
    size_t runs = 0;
    RunRequest next{};
    while (TakeNextRun(&next))
        runs += RunOnce(next) ? 1 : 0;
    return runs;
}

uint32_t ConfigureDevice(uint32_t index) {
    const RunRequest request{RunRequest::Kind::Slot, index, {}};
    QueueRuns(&request, 1);
    return 0;
}
