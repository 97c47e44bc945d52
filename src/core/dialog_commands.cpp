#include "dialog_commands.h"

#include "cp936_texts.h"
#include "device_coordination.h"
#include "device_discovery.h"
#include "dialog_access.h"
#include "isp_options.h"
#include "log.h"
#include "resource.h"
#include "worker_jobs.h"

#include <atomic>

namespace {
void ConfigureSelected() {
    int selection = Dialog().GetSelection(IDC_DEVICE_LIST);
    if (selection < 0) {
        LogPrintf("%s", kTextSelectDeviceFirst);
        return;
    }
    // The device is taken now, as the entry names it: a search may replace
    // the table before the worker's run starts.
    const uint32_t ticket = QueuePressedDevice(static_cast<uint32_t>(selection));
    if (!StartWorkerThread(WorkerJob::Configure, static_cast<uint32_t>(selection)) &&
        WithdrawPress(ticket))
        LogPrintf("Cannot start a thread to configure device index(%d)", selection);
}

// Registers the options. Registered without a callback, the library reports
// no plugging or unplugging: say so once rather than stay silent.
int32_t RegisterOptions() {
    static std::atomic<bool> s_reportedNoCallback{false};
    if (!DeviceEventsCanBeRegistered() && !s_reportedNoCallback.exchange(true))
        LogPrintf("Device events off: the event handler's address does not fit the option "
                  "record's 4-byte field");
    return ApplyIspOptions();
}

void FindDevices() {
    if (RegisterOptions() == 0)
        LogPrintf("Set isp option failure.");
    StartSearchWorker();
}

void ReapplyOptions() {
    if (RegisterOptions() == 0)
        LogPrintf("Set isp option failure.");
}

void SetIspOption() {
    if (RegisterOptions() == 1)
        LogPrintf("Set isp option succ");
    else
        LogPrintf("Set isp option failure.");
}
} // namespace

bool HandleDialogCommand(int id, int notification) {
    const OnDialogThread dialogThread;
    switch (id) {
    case IDC_CONFIGURE:
        ConfigureSelected();
        return true;
    case IDC_FIND_DEVICES:
        FindDevices();
        return true;
    case IDC_CLEAR_LOG:
        Dialog().SetText(IDC_LOG, "");
        return true;
    case IDC_DEVICE_LIST:
        if (notification == kListSelectionChanged || notification == kListFocusGained)
            ShowDeviceInfo();
        return true;
    case IDC_PLUG_NOTIFY:
    case IDC_AUTO_DOWNLOAD:
        ReapplyOptions();
        return true;
    case IDC_SET_ISP_OPTION:
        SetIspOption();
        return true;
    case IDC_LIMIT_COUNT:
        Dialog().Enable(IDC_COUNT_LIMIT, Dialog().IsChecked(IDC_LIMIT_COUNT));
        return true;
    default:
        return false;
    }
}
