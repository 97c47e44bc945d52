#include "device_discovery.h"

#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "resource.h"
#include "shared_state.h"

#include "core_mutex.h"

namespace {
// Held for a whole refresh, across its dialog access; never taken by the
// dialog's thread.
CoreMutex RefreshLock;

constexpr size_t kRefreshTextSize = 512;
constexpr size_t kInfoTextSize = 128;

void FormatLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    if (CurrentOptionMode() == 1)
        FormatNameLabel(buffer, size, device);
    else
        FormatUidLabel(buffer, size, device);
}
} // namespace

uint32_t RefreshDeviceList() {
    CoreLock refresh(RefreshLock);
    DialogAccess& dialog = Dialog();
    dialog.Enable(IDC_FIND_DEVICES, false);
    dialog.Enable(IDC_CONFIGURE, false);

    // An event from here on may describe a change this search does not see,
    // so the pending refresh is taken over before asking the library, not
    // after: a later event keeps its own request.
    RefreshPending = 0;

    // The library fills a private table; the shared one is swapped in under
    // its lock, so the dialog's thread never reads a half-written slot.
    std::array<IspDeviceInfo, kDeviceSlots> found{};
    int32_t result = Tamla_EnumDevices(found.data(), kDeviceSlots);
    // A negative result is an error, not a count: nothing was found.
    if (result < 0)
        result = 0;
    {
        CoreLock lock(DeviceTableLock);
        DeviceTable = found;
        DeviceCount = static_cast<uint32_t>(result);
    }

    char text[kRefreshTextSize];
    if (result == 0) {
        LogPrintf("Not found isp device");
        dialog.ClearList(IDC_DEVICE_LIST);
        dialog.SetText(IDC_DEVICE_INFO, "");
    } else {
        dialog.ClearList(IDC_DEVICE_LIST);
        // DeviceCount is read afresh for each slot: an event may change it.
        for (uint32_t i = 0; i < ValidSlotCount(); ++i) {
            FormatLabel(text, sizeof(text), CopyDeviceSlot(i));
            dialog.AddEntry(IDC_DEVICE_LIST, text);
        }
        dialog.SelectEntry(IDC_DEVICE_LIST, 0);
        FormatInfoLine(text, sizeof(text), CopyDeviceSlot(0));
        dialog.SetText(IDC_DEVICE_INFO, text);
    }

    dialog.Enable(IDC_FIND_DEVICES, true);
    dialog.Enable(IDC_CONFIGURE, true);
    return DeviceCount.load();
}

void ShowDeviceInfo() {
    int selection = Dialog().GetSelection(IDC_DEVICE_LIST);
    if (selection < 0 || uint32_t(selection) >= kDeviceSlots)
        return;
    char text[kInfoTextSize];
    FormatInfoLine(text, sizeof(text), CopyDeviceSlot(uint32_t(selection)));
    Dialog().SetText(IDC_DEVICE_INFO, text);
}
