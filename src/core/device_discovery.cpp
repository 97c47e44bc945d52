#include "device_discovery.h"

#include "busy_handshake.h"
#include "config_run.h"
#include "core_mutex.h"
#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "resource.h"
#include "shared_state.h"

#include <atomic>

namespace {
// A leaf lock around the refresh requests and the refresher's role; nothing
// is called while it is held.
CoreMutex RefreshRequestLock;
bool SearchRequested = false;
uint32_t SlotsToConfigure = 0;
std::atomic<bool> RefresherActive{false};

constexpr size_t kRefreshTextSize = 512;
constexpr size_t kInfoTextSize = 128;
constexpr uint32_t kSlotMask = (1u << kDeviceSlots) - 1;

void FormatLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    if (CurrentOptionMode() == 1)
        FormatNameLabel(buffer, size, device);
    else
        FormatUidLabel(buffer, size, device);
}

// Records a request; true when the caller has become the refresher.
bool RecordRequest(uint32_t slotMask) {
    CoreLock lock(RefreshRequestLock);
    SearchRequested = true;
    SlotsToConfigure |= slotMask & kSlotMask;
    if (RefresherActive.load())
        return false;
    RefresherActive = true;
    return true;
}

enum class RefresherStep { Search, Configure, Done };

// What the refresher does next: search while requests come; then configure
// the arrivals handed over; when there is neither, its role ends in the same
// step, so a request is never left without a refresher.
RefresherStep NextStep(uint32_t* slotMask) {
    CoreLock lock(RefreshRequestLock);
    if (SearchRequested) {
        SearchRequested = false;
        return RefresherStep::Search;
    }
    *slotMask = SlotsToConfigure;
    SlotsToConfigure = 0;
    if (*slotMask != 0)
        return RefresherStep::Configure;
    RefresherActive = false;
    return RefresherStep::Done;
}

void SearchOnce() {
    DialogAccess& dialog = Dialog();
    dialog.Enable(IDC_FIND_DEVICES, false);
    dialog.Enable(IDC_CONFIGURE, false);

    // An event from here on may describe a change this search does not see,
    // so the pending refresh is taken over before asking the library, not
    // after: a later event keeps its own request.
    TakePendingRefresh();

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
}

// Each slot is selected in the list first, as a user would before pressing
// the configure button; selecting it this way does not update the info line.
void ConfigureSlots(uint32_t slotMask) {
    for (uint32_t slot = 0; slot < kDeviceSlots; ++slot) {
        if ((slotMask & (1u << slot)) == 0)
            continue;
        Dialog().SelectEntry(IDC_DEVICE_LIST, static_cast<int>(slot));
        ConfigureDevice(slot);
    }
}

void RunRefresher() {
    uint32_t slotMask = 0;
    for (;;) {
        switch (NextStep(&slotMask)) {
        case RefresherStep::Search:
            SearchOnce();
            break;
        case RefresherStep::Configure:
            ConfigureSlots(slotMask);
            break;
        case RefresherStep::Done:
            return;
        }
    }
}
} // namespace

uint32_t RefreshDeviceList() { return RefreshDeviceListAndConfigure(0); }

uint32_t RefreshDeviceListAndConfigure(uint32_t slotMask) {
    if (RecordRequest(slotMask))
        RunRefresher();
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

bool RefreshInProgress() { return RefresherActive.load(); }
