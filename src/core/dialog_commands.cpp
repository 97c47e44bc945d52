#include "dialog_commands.h"

#include "cp936_texts.h"
#include "device_discovery.h"
#include "dialog_access.h"
#include "isp_options.h"
#include "log.h"
#include "resource.h"
#include "worker_jobs.h"

namespace {
void ConfigureSelected() {
    int selection = Dialog().GetSelection(IDC_DEVICE_LIST);
    if (selection < 0) {
        LogPrintf("%s", kTextSelectDeviceFirst);
        return;
    }
    StartWorkerJob(WorkerJob::Configure, static_cast<uint32_t>(selection));
}

void FindDevices() {
    if (ApplyIspOptions() == 0)
        LogPrintf("Set isp option failure.");
    StartWorkerJob(WorkerJob::Refresh, 0);
}

void ReapplyOptions() {
    if (ApplyIspOptions() == 0)
        LogPrintf("Set isp option failure.");
}

void SetIspOption() {
    if (ApplyIspOptions() == 1)
        LogPrintf("Set isp option succ");
    else
        LogPrintf("Set isp option failure.");
}
} // namespace

bool HandleDialogCommand(int id, int notification) {
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
