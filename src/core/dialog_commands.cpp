#include "dialog_commands.h"

#include "cp936_texts.h"
#include "device_coordination.h"
#include "device_discovery.h"
#include "dialog_access.h"
#include "log.h"
#include "resource.h"

namespace {
using Registration = DialogRequest::Registration;

void ConfigureSelected() {
    int selection = Dialog().GetSelection(IDC_DEVICE_LIST);
    if (selection < 0) {
        LogPrintf("%s", kTextSelectDeviceFirst);
        return;
    }
    AskFromDialog({Registration::None, false, selection});
}
} // namespace

bool HandleDialogCommand(int id, int notification) {
    const OnDialogThread dialogThread;
    switch (id) {
    case IDC_CONFIGURE:
        ConfigureSelected();
        return true;
    case IDC_FIND_DEVICES:
        AskFromDialog({Registration::LogFailure, true, -1});
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
        AskFromDialog({Registration::LogFailure, false, -1});
        return true;
    case IDC_SET_ISP_OPTION:
        AskFromDialog({Registration::LogEither, false, -1});
        return true;
    case IDC_LIMIT_COUNT:
        Dialog().Enable(IDC_COUNT_LIMIT, Dialog().IsChecked(IDC_LIMIT_COUNT));
        return true;
    default:
        return false;
    }
}
