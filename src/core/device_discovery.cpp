#include "device_discovery.h"

#include "device_text.h"
#include "dialog_access.h"
#include "log.h"
#include "resource.h"

namespace {
constexpr size_t kRefreshTextSize = 512;
constexpr size_t kInfoTextSize = 128;

void FormatLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    if (CurrentOptionMode() == 1)
        FormatNameLabel(buffer, size, device);
    else
        FormatUidLabel(buffer, size, device);
}
} // namespace

void ShowDevices(const std::array<IspDeviceInfo, kDeviceSlots>& found, int32_t result) {
    DialogAccess& dialog = Dialog();
    if (result == 0)
        LogPrintf("Not found isp device");
    // The list is emptied, and its selection with it, before the table
    // changes: an entry the dialog's thread finds selected is always one of
    // the table's.
    dialog.ClearList(IDC_DEVICE_LIST);
    {
        CoreLock lock(DeviceTableLock);
        DeviceTable = found;
        DeviceCount = static_cast<uint32_t>(result);
    }
    if (result == 0) {
        dialog.SetText(IDC_DEVICE_INFO, "");
        return;
    }
    char text[kRefreshTextSize];
    for (uint32_t i = 0; i < ValidSlotCount(); ++i) {
        FormatLabel(text, sizeof(text), found[i]);
        dialog.AddEntry(IDC_DEVICE_LIST, text);
    }
    dialog.SelectEntry(IDC_DEVICE_LIST, 0);
    FormatInfoLine(text, sizeof(text), found[0]);
    dialog.SetText(IDC_DEVICE_INFO, text);
}

void ShowDeviceInfo() {
    int selection = Dialog().GetSelection(IDC_DEVICE_LIST);
    if (selection < 0 || uint32_t(selection) >= kDeviceSlots)
        return;
    char text[kInfoTextSize];
    FormatInfoLine(text, sizeof(text), CopyDeviceSlot(uint32_t(selection)));
    Dialog().SetText(IDC_DEVICE_INFO, text);
}

void EnableActionButtons(bool enabled) {
    Dialog().Enable(IDC_FIND_DEVICES, enabled);
    Dialog().Enable(IDC_CONFIGURE, enabled);
}
