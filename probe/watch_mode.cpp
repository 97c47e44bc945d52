#include "watch_mode.h"

#include "callback_watch.h"
#include "library_steps.h"
#include "probe_report.h"
#include "probe_run.h"

#include <windows.h>

#include <cstdio>

namespace {
// How often the watch looks whether Ctrl+C ended it.
constexpr DWORD kStopPollMs = 100;

struct Table {
    IspDeviceInfo slots[kIspDeviceSlots];
    uint32_t count;
};

bool Holds(const Table& table, const IspDeviceInfo& device) {
    for (uint32_t i = 0; i < table.count; ++i)
        if (SameDevice(table.slots[i], device))
            return true;
    return false;
}

void SlotText(char* buffer, size_t size, const Table& table, uint32_t slot) {
    if (slot < table.count)
        DeviceShortText(buffer, size, table.slots[slot]);
    else
        std::snprintf(buffer, size, "empty");
}

// Each slot the mask names, before and after. When judged, an arrival's
// slots must hold programmers the search before did not have.
void ReportEvent(const SeenCallback& seen, const Table& before, const Table& after, bool judged) {
    Report("  event code %d%s, mask 0x%04X, count %u", static_cast<int>(seen.code),
           seen.code == kIspEventArrival ? " (arrival)" : "", static_cast<unsigned>(seen.mask),
           static_cast<unsigned>(seen.count));
    for (uint32_t slot = 0; slot < 32; ++slot) {
        if ((seen.mask & (1u << slot)) == 0)
            continue;
        char was[192];
        char now[192];
        SlotText(was, sizeof was, before, slot);
        SlotText(now, sizeof now, after, slot);
        Report("    slot %u: before %s; after %s", static_cast<unsigned>(slot), was, now);
        if (seen.code != kIspEventArrival || !judged)
            continue;
        ++Run().arrivalsChecked;
        const bool fits = slot < after.count && !Holds(before, after.slots[slot]);
        if (!fits && Run().arrivalsMisplaced++ == 0)
            std::snprintf(Run().arrivalMisplaced, sizeof Run().arrivalMisplaced,
                          "an arrival named slot %u, which after it holds %s",
                          static_cast<unsigned>(slot),
                          slot < after.count ? "a programmer that was there before" : "nothing");
    }
    if (seen.mask == 0)
        Report("    the mask names no slot");
}
} // namespace

void RunWatch(uint32_t seconds) {
    Run().watched = true;
    Run().phase = Phase::Watching;
    Report("Watch for %u s: plug in a programmer, then unplug one (Ctrl+C ends the watch early)",
           static_cast<unsigned>(seconds));
    static Table before;
    static Table after;
    before.count = SearchForWatch(before.slots, "search before the first event");
    size_t handled = SeenCallbackCount();
    const ULONGLONG end = GetTickCount64() + uint64_t{seconds} * 1000;
    uint32_t events = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end || Run().stopWatch.load())
            break;
        const DWORD wait = end - now < kStopPollMs ? static_cast<DWORD>(end - now) : kStopPollMs;
        if (WaitForSingleObject(static_cast<HANDLE>(LibraryEventSignal()), wait) != WAIT_OBJECT_0)
            continue;
        // The events on library threads since the last look; those inside
        // the probe's own calls are answered by those calls.
        const size_t seen = SeenCallbackCount();
        bool any = false;
        for (size_t i = handled; i < seen; ++i) {
            SeenCallback callback;
            any = any || (SeenCallbackAt(i, &callback) && callback.libraryThread);
        }
        if (!any) {
            handled = seen;
            continue;
        }
        after.count = SearchForWatch(after.slots, "search after the event(s) below");
        // An arrival followed by another event before the search may be
        // gone from it: only the last event of a batch is held to its slots.
        size_t last = handled;
        for (size_t i = handled; i < seen; ++i) {
            SeenCallback callback;
            if (SeenCallbackAt(i, &callback) && callback.libraryThread)
                last = i;
        }
        for (size_t i = handled; i < seen; ++i) {
            SeenCallback callback;
            if (SeenCallbackAt(i, &callback) && callback.libraryThread) {
                ReportEvent(callback, before, after, i == last);
                ++events;
            }
        }
        handled = seen;
        before = after;
    }
    Report("Watch over: %u event(s) on a library thread", static_cast<unsigned>(events));
}
