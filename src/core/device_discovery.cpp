#include "device_discovery.h"

#include "busy_handshake.h"
#include "config_run.h"
#include "core_mutex.h"
#include "device_text.h"
#include "dialog_access.h"
#include "isp_api.h"
#include "log.h"
#include "platform.h"
#include "resource.h"
#include "shared_state.h"

#include <algorithm>
#include <atomic>

namespace {
constexpr size_t kRefreshTextSize = 512;
constexpr size_t kInfoTextSize = 128;
// Arrivals waiting for the refresher's last search: at most 16 per search,
// and the same device waits once.
constexpr size_t kArrivalsWaiting = 32;

// A thread inside a Tamla_EnumDevices call that the tool made. A library may
// call back on that thread from inside the call: what it reports there is at
// least as new as the table the call returns, so the call answers it.
struct EnumCall {
    bool used;
    uint32_t thread;
    uint32_t arrivals; // slots the callback reported as arrived meanwhile
};
// Entry 0 is the refresher's search; the others are events' own looks at the
// table (one per library thread that reports an arrival during a search).
constexpr size_t kRefresherCall = 0;
constexpr size_t kEnumCalls = 5;

// A leaf lock around the requests, the calls in progress, the waiting
// arrivals and the refresher's role; nothing is called while it is held.
CoreMutex RefreshRequestLock;
bool SearchRequested = false;
uint32_t NextSearchArrivals = 0;
std::array<EnumCall, kEnumCalls> EnumCalls{};
std::array<RunRequest, kArrivalsWaiting> ArrivalRuns{};
size_t ArrivalRunCount = 0;
std::atomic<bool> RefresherActive{false};

void FormatLabel(char* buffer, size_t size, const IspDeviceInfo& device) {
    if (CurrentOptionMode() == 1)
        FormatNameLabel(buffer, size, device);
    else
        FormatUidLabel(buffer, size, device);
}

enum class Request {
    Answered,        // by the library call this thread is inside
    Recorded,        // for the refresher at work elsewhere
    BecameRefresher, // the caller searches now
    LookFirst,       // the caller reads the table for its arrivals first
};

// Records a request for a search, with the slots an arrival names. *call is
// the caller's entry in EnumCalls when it is to look first.
Request RecordRequest(uint32_t arrivals, uint32_t thread, size_t* call) {
    CoreLock lock(RefreshRequestLock);
    for (EnumCall& inside : EnumCalls) {
        if (inside.used && inside.thread == thread) {
            inside.arrivals |= arrivals;
            return Request::Answered;
        }
    }
    if (!RefresherActive.load()) {
        RefresherActive = true;
        SearchRequested = true;
        NextSearchArrivals |= arrivals;
        return Request::BecameRefresher;
    }
    // Arrival slots name the library's table as it stands now; by the
    // refresher's next search another change may have shifted them. So this
    // thread reads the table itself at once, as the event's own refresh
    // would.
    if (arrivals != 0) {
        for (size_t i = kRefresherCall + 1; i < kEnumCalls; ++i) {
            if (!EnumCalls[i].used) {
                EnumCalls[i] = {true, thread, arrivals};
                *call = i;
                return Request::LookFirst;
            }
        }
    }
    // With no room to look, the next search resolves the slots.
    SearchRequested = true;
    NextSearchArrivals |= arrivals;
    return Request::Recorded;
}

// Asks the library for the attached devices on behalf of EnumCalls[call],
// which holds the arrivals to resolve; returns the count (0 for an error)
// and, in *arrivals, those plus what the library reported during the call.
uint32_t EnumForCall(size_t call, std::array<IspDeviceInfo, kDeviceSlots>& found, int32_t* result,
                     uint32_t* arrivals) {
    *result = Tamla_EnumDevices(found.data(), kDeviceSlots);
    // A negative result is an error, not a count: nothing was found.
    if (*result < 0)
        *result = 0;
    CoreLock lock(RefreshRequestLock);
    *arrivals = EnumCalls[call].arrivals;
    EnumCalls[call] = {};
    return std::min(static_cast<uint32_t>(*result), kDeviceSlots);
}

// The runs for the arrival slots, named against the table found by the
// search that covers them: each device by its identity, in slot order.
size_t ResolveArrivals(const std::array<IspDeviceInfo, kDeviceSlots>& found, uint32_t count,
                       uint32_t arrivals, RunRequest* runs) {
    size_t n = 0;
    for (uint32_t slot = 0; slot < kDeviceSlots; ++slot) {
        if ((arrivals & (1u << slot)) == 0)
            continue;
        if (slot < count)
            runs[n++] = {RunRequest::Kind::Arrival, slot, found[slot]};
        else
            runs[n++] = {RunRequest::Kind::NoDevice, slot, {}};
    }
    return n;
}

// Adds runs to the waiting arrivals, a device that waits already once;
// returns how many did not fit. Under RefreshRequestLock.
size_t AddArrivalRunsLocked(const RunRequest* runs, size_t count) {
    size_t refused = 0;
    for (size_t i = 0; i < count; ++i) {
        bool waiting = false;
        for (size_t k = 0; k < ArrivalRunCount && !waiting; ++k)
            waiting = runs[i].kind == RunRequest::Kind::Arrival &&
                      ArrivalRuns[k].kind == RunRequest::Kind::Arrival &&
                      SameDevice(ArrivalRuns[k].device, runs[i].device);
        if (waiting)
            continue;
        if (ArrivalRunCount == kArrivalsWaiting)
            ++refused;
        else
            ArrivalRuns[ArrivalRunCount++] = runs[i];
    }
    return refused;
}

void LogRefusedArrivals(size_t refused) {
    if (refused != 0)
        LogPrintf("Too many arrivals waiting; %u not configured", static_cast<unsigned>(refused));
}

// An event's look has named its arrivals: they wait for the refresher, which
// searches once more so the list shows them before they are written. True
// when no refresher was at work and the caller has become it.
bool HandOverArrivals(const RunRequest* runs, size_t count) {
    size_t refused = 0;
    bool becameRefresher = false;
    {
        CoreLock lock(RefreshRequestLock);
        SearchRequested = true;
        refused = AddArrivalRunsLocked(runs, count);
        if (!RefresherActive.load()) {
            RefresherActive = true;
            becameRefresher = true;
        }
    }
    LogRefusedArrivals(refused);
    return becameRefresher;
}

enum class RefresherStep { Search, Configure, Done };

// What the refresher does next: search while requests come; then configure
// the arrivals waiting; when there is neither, its role ends in the same
// step, so a request is never left without a refresher.
RefresherStep NextStep(uint32_t* arrivals, std::array<RunRequest, kArrivalsWaiting>& runs,
                       size_t* runCount) {
    CoreLock lock(RefreshRequestLock);
    if (SearchRequested) {
        SearchRequested = false;
        *arrivals = NextSearchArrivals;
        NextSearchArrivals = 0;
        return RefresherStep::Search;
    }
    *runCount = ArrivalRunCount;
    std::copy_n(ArrivalRuns.begin(), ArrivalRunCount, runs.begin());
    ArrivalRunCount = 0;
    if (*runCount != 0)
        return RefresherStep::Configure;
    RefresherActive = false;
    return RefresherStep::Done;
}

void SearchOnce(uint32_t arrivals) {
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
    {
        // What the library reports on this thread during the search is
        // answered by it.
        CoreLock lock(RefreshRequestLock);
        EnumCalls[kRefresherCall] = {true, CurrentThreadId(), arrivals};
    }
    int32_t result = 0;
    const uint32_t count = EnumForCall(kRefresherCall, found, &result, &arrivals);
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

    if (arrivals != 0) {
        std::array<RunRequest, kDeviceSlots> runs{};
        const size_t n = ResolveArrivals(found, count, arrivals, runs.data());
        size_t refused = 0;
        {
            CoreLock lock(RefreshRequestLock);
            refused = AddArrivalRunsLocked(runs.data(), n);
        }
        LogRefusedArrivals(refused);
    }

    dialog.Enable(IDC_FIND_DEVICES, true);
    dialog.Enable(IDC_CONFIGURE, true);
}

// Returns how many runs this thread ran.
size_t RunRefresher() {
    uint32_t arrivals = 0;
    std::array<RunRequest, kArrivalsWaiting> runs{};
    size_t runCount = 0;
    size_t ran = 0;
    for (;;) {
        switch (NextStep(&arrivals, runs, &runCount)) {
        case RefresherStep::Search:
            SearchOnce(arrivals);
            break;
        case RefresherStep::Configure:
            ran += QueueRuns(runs.data(), runCount);
            break;
        case RefresherStep::Done:
            return ran;
        }
    }
}

// An arrival reported while a search runs on another thread: this thread
// reads the table for it now and hands the devices it names to the
// refresher. Returns how many runs this thread ran.
size_t LookThenHandOver(size_t call) {
    std::array<IspDeviceInfo, kDeviceSlots> found{};
    int32_t result = 0;
    uint32_t arrivals = 0;
    const uint32_t count = EnumForCall(call, found, &result, &arrivals);
    std::array<RunRequest, kDeviceSlots> runs{};
    const size_t n = ResolveArrivals(found, count, arrivals, runs.data());
    return HandOverArrivals(runs.data(), n) ? RunRefresher() : 0;
}
} // namespace

uint32_t RefreshDeviceList() {
    HandleDeviceChange(0);
    return DeviceCount.load();
}

size_t HandleDeviceChange(uint32_t arrivals) {
    size_t call = 0;
    switch (RecordRequest(arrivals & kSlotMask, CurrentThreadId(), &call)) {
    case Request::Answered:
    case Request::Recorded:
        return 0;
    case Request::BecameRefresher:
        return RunRefresher();
    case Request::LookFirst:
        return LookThenHandOver(call);
    }
    return 0;
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
