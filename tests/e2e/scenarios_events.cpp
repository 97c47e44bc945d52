// Device events from the library: plugs and unplugs while idle and during a
// write, storms, and a library that breaks its own limits.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "text_util.h"

namespace {
const wchar_t* const kLabelE = L"5#ISP DEV:0A-0B-0C-0D-0E-0F";

// Calls of one function with a sequence number in (after, before).
size_t CountBetween(Simulator& sim, const wchar_t* function, unsigned after, unsigned before) {
    size_t count = 0;
    for (const SimCall& call : sim.CallsOf(function))
        if (call.seq > after && call.seq < before)
            ++count;
    return count;
}

void UnplugWhileIdle(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    size_t searches = s.Sim().CountOf(L"Tamla_EnumDevices");
    if (!s.Command("unplug 1") || !s.WaitForListCount(1, 5000))
        return;
    c.CheckLines(L"device list after unplugging device 1", {kLabelB},
                 ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"info line after the unplug", kInfoB, ReadText(d, IDC_DEVICE_INFO));
    if (!s.Sim().WaitForCalls(L"event", 1, 5000)) {
        c.Fail(L"no event line in calls.log");
        return;
    }
    SimCall event = s.Sim().CallsOf(L"event")[0];
    c.CheckEqual(L"event handled while idle", L"code=2 mask=0x0001 count=1", event.details);
    c.CheckEqual(L"searches after one event", static_cast<long long>(searches + 1),
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_EnumDevices")));
    if (!s.Command("unplug-all") || !s.WaitForListCount(0, 5000))
        return;
    s.WaitForLogLine(L"Not found isp device", 5000);
    c.CheckEqual(L"info line with no device", L"", ReadText(d, IDC_DEVICE_INFO));
}

void PlugDuringWrite(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 1500\n"))
        return;
    HWND d = s.Dialog();
    size_t registrations = s.Sim().CountOf(L"Tamla_SetIspOption");
    size_t searches = s.Sim().CountOf(L"Tamla_EnumDevices");
    if (!s.BeginConfigure(kLabelA))
        return;
    if (!s.Command("plug 5 uid=0A0B0C0D0E0F boot=0300 name=PROG-E") ||
        !s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs) ||
        !s.WaitForListCount(3, 5000))
        return;
    Sleep(1000); // room for a wrong second search
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    std::vector<SimCall> events = s.Sim().CallsOf(L"event");
    if (!c.CheckEqual(L"writes", 1, static_cast<long long>(writes.size())) ||
        !c.CheckEqual(L"events", 1, static_cast<long long>(events.size())))
        return;
    c.Check(events[0].seq < writes[0].seq, L"the arrival came during the write",
            L"event before the end of the write", events[0].line + L" / " + writes[0].line);
    c.CheckEqual(L"arrival event", L"code=3 mask=0x0004 count=3", events[0].details);
    c.CheckEqual(L"handler result for an event during a write (deferred)", L"1", events[0].result);
    c.CheckEqual(L"searches during the write", 0,
                 static_cast<long long>(
                     CountBetween(s.Sim(), L"Tamla_EnumDevices", events[0].seq, writes[0].seq)));
    c.CheckEqual(L"searches after the write", static_cast<long long>(searches + 1),
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_EnumDevices")));
    c.CheckEqual(L"registrations after the write (find-devices click)",
                 static_cast<long long>(registrations + 1),
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_SetIspOption")));
    c.CheckLines(L"device list after the write", {kLabelA, kLabelB, kLabelE},
                 ComboEntries(d, IDC_DEVICE_LIST));
    s.WaitForButtons(true, 3000);
}

void StormWhileIdle(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    size_t searches = s.Sim().CountOf(L"Tamla_EnumDevices");
    if (!s.Command("storm 50", 30000))
        return;
    if (!s.Sim().WaitForCalls(L"event", 50, 30000)) {
        c.Fail(Format(L"50 event lines not seen; %zu", s.Sim().CountOf(L"event")));
        return;
    }
    s.Responsive(2000);
    c.CheckEqual(L"searches after 50 events while idle", static_cast<long long>(searches + 50),
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_EnumDevices")));
    s.WaitForButtons(true, 5000);
    c.CheckLines(L"device list after the storm", {kLabelA, kLabelB},
                 ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"selection after the storm", 0, ComboSelection(d, IDC_DEVICE_LIST));
    c.CheckLines(L"log after the storm", {L"Set isp option succ"}, s.LogLines());
}

void StormDuringWrite(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 1500\n"))
        return;
    HWND d = s.Dialog();
    size_t searches = s.Sim().CountOf(L"Tamla_EnumDevices");
    if (!s.BeginConfigure(kLabelA))
        return;
    if (!s.Command("storm 30 2") ||
        !s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs))
        return;
    s.Sim().WaitForCalls(L"Tamla_EnumDevices", searches + 1, 5000);
    Sleep(1000);
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    std::vector<SimCall> events = s.Sim().CallsOf(L"event");
    c.CheckEqual(L"events", 30, static_cast<long long>(events.size()));
    size_t deferred = 0;
    for (const SimCall& event : events)
        if (event.result == L"1" && !writes.empty() && event.seq < writes[0].seq)
            ++deferred;
    c.CheckEqual(L"events deferred during the write", 30, static_cast<long long>(deferred));
    c.CheckEqual(L"searches after the write (exactly one)", static_cast<long long>(searches + 1),
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_EnumDevices")));
    c.CheckLines(L"device list", {kLabelA, kLabelB}, ComboEntries(d, IDC_DEVICE_LIST));
    s.WaitForButtons(true, 3000);
    s.Responsive(2000);
}

void MisbehavingLibrary(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("mode 1\nenum-count 20\nunterminated-names on\nflash-ms 50\n"))
        return;
    HWND d = s.Dialog();
    s.Responsive(2000);
    std::vector<std::wstring> entries = ComboEntries(d, IDC_DEVICE_LIST);
    c.Check(entries.size() >= 2 && entries.size() <= 16,
            L"device list bounded by the table when the library claims 20", L"2 to 16 entries",
            Format(L"%zu entries", entries.size()));
    for (size_t i = 0; i < entries.size() && i < 2; ++i) {
        std::wstring prefix = Format(L"%zu#ISP DEV:", i + 1);
        c.Check(StartsWith(entries[i], prefix) && entries[i].size() <= 10 + 50,
                Format(L"label %zu with an unterminated name", i),
                prefix + L"... at most 60 characters", entries[i]);
    }
    // Still works: a search, then a write.
    if (!s.Click(IDC_FIND_DEVICES) || !s.WaitSettled(2, kRunTimeoutMs))
        return;
    if (!s.Command("enum-count off") || !s.Click(IDC_FIND_DEVICES) ||
        !s.WaitSettled(3, kRunTimeoutMs))
        return;
    c.CheckEqual(L"entries once the library keeps to its count", 2,
                 static_cast<long long>(ComboEntries(d, IDC_DEVICE_LIST).size()));
    if (!s.Click(IDC_CONFIGURE))
        return;
    s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs);
    s.Responsive(2000);
}

// Sets the hidden automatic-download box and sends its command.
bool EnableAutoDownload(ScenarioContext& c, HWND d) {
    if (SendBounded(Control(d, IDC_AUTO_DOWNLOAD), BM_SETCHECK, BST_CHECKED, 0, nullptr) &&
        ClickHidden(d, IDC_AUTO_DOWNLOAD))
        return true;
    c.Fail(L"the dialog did not take the automatic-download box's command");
    return false;
}

// Automatic download, with the hidden box set through its command. Device 5
// arrives in slot 2 while a slow search runs; device 1 (slot 0) leaves once
// the arrival's search has read the records, before the arrival's write, so
// device 5 is in slot 1 by then. Device 5 must be written, once, and
// nothing else.
void AutoDownloadArrivalThenRemoval(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 200\n"))
        return;
    HWND d = s.Dialog();
    size_t registrations = s.Sim().CountOf(L"Tamla_SetIspOption");
    // The registration is the worker's: waited for, not assumed done when
    // the command returns.
    if (!EnableAutoDownload(c, d) ||
        !s.Sim().WaitForCalls(L"Tamla_SetIspOption", registrations + 1, kRunTimeoutMs) ||
        !c.CheckEqual(L"registrations after the box's command",
                      static_cast<long long>(registrations + 1),
                      static_cast<long long>(s.Sim().CountOf(L"Tamla_SetIspOption"))) ||
        !s.Command("enum-ms 800") || !s.Click(IDC_FIND_DEVICES))
        return;
    Sleep(150); // the press's search is scanning now
    if (!s.Command("plug 5 uid=0A0B0C0D0E0F\nunplug-after-search 1"))
        return;
    auto ended = [&] {
        for (const std::wstring& line : s.LogLines())
            if (line == RunLine(kLabelE, L"config succ") || Contains(line, L"config failure") ||
                Contains(line, L"Invalid device index") || Contains(line, L"before config"))
                return true;
        return false;
    };
    if (!WaitFor(ended, kRunTimeoutMs))
        c.Fail(L"no outcome of the arrival's run in the log");
    Sleep(1000); // room for a wrong second write
    s.WaitForButtons(true, 5000);
    std::vector<SimCall> unplugs = s.Sim().CallsOf(L"unplug-after-search");
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    std::vector<std::wstring> written;
    for (const SimCall& call : writes)
        written.push_back(call.details.substr(0, call.details.find(L' ')));
    c.CheckLines(L"devices written", {L"id=5"}, written);
    // A write's line comes at its end, 200 ms after it began.
    c.Check(unplugs.size() == 1 && (writes.empty() || writes[0].ms >= unplugs[0].ms + 200),
            L"device 1 left after a search and before the write began",
            L"one unplug-after-search line, 200 ms or more before the write's line",
            s.Sim().CallLogText());
    std::vector<std::wstring> log = s.LogLines();
    c.CheckLines(L"log after the arrival",
                 {L"Set isp option succ", RunLine(kLabelE, L"begin config..."),
                  RunLine(kLabelE, L"config succ")},
                 log);
}

// Automatic download while devices come and go during writes. While device 1
// is written (a press of configure), devices 5 and 6 arrive in one event
// (slots 2 and 3); they are written after it. While device 5 is written,
// device 2, attached before them, leaves (6 moves to slot 2) and device 7
// arrives. Each device is written once, by id, and no line says otherwise.
void AutoDownloadArrivalsDuringWrite(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 1500\n") || !EnableAutoDownload(c, s.Dialog()))
        return;
    HWND d = s.Dialog();
    const wchar_t* const label6 = L"6#ISP DEV:70-00-00-00-00-06";
    const wchar_t* const label7 = L"7#ISP DEV:70-00-00-00-00-07";
    if (!s.BeginConfigure(kLabelA) ||
        !s.Command("device 5 uid=0A0B0C0D0E0F\ndevice 6\nevent 3 0x000C 4") ||
        !s.WaitForLogLine(RunLine(kLabelE, L"begin config..."), kRunTimeoutMs) ||
        !s.Command("unplug 2\nplug 7"))
        return;
    s.Sim().WaitForCalls(L"Tamla_FlashProgramB", 4, 3 * kRunTimeoutMs);
    Sleep(1000); // room for a wrong further write
    s.WaitForButtons(true, 5000);
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    std::vector<std::wstring> written;
    for (const SimCall& call : writes)
        written.push_back(call.details.substr(0, call.details.find(L' ')) + L" -> " + call.result);
    c.CheckLines(L"devices written", {L"id=1 -> 1", L"id=5 -> 1", L"id=6 -> 1", L"id=7 -> 1"},
                 written);
    // Each event came during the write it was meant for.
    std::vector<std::wstring> seen;
    for (const SimCall& call : s.Sim().CallsOf(L"event")) {
        size_t during = 0;
        while (during < writes.size() && writes[during].seq < call.seq)
            ++during;
        seen.push_back(call.details + Format(L" during write %zu", during + 1));
    }
    c.CheckLines(L"events",
                 {L"code=3 mask=0x000C count=4 during write 1",
                  L"code=2 mask=0x0002 count=3 during write 2",
                  L"code=3 mask=0x0008 count=4 during write 2"},
                 seen);
    std::vector<std::wstring> runLines;
    for (const std::wstring& line : s.LogLines())
        if (StartsWith(line, L"<") || Contains(line, L"Invalid device index"))
            runLines.push_back(line);
    c.CheckLines(L"run lines in the log",
                 {RunLine(kLabelA, L"begin config..."), RunLine(kLabelA, L"config succ"),
                  RunLine(kLabelE, L"begin config..."), RunLine(kLabelE, L"config succ"),
                  RunLine(label6, L"begin config..."), RunLine(label6, L"config succ"),
                  RunLine(label7, L"begin config..."), RunLine(label7, L"config succ")},
                 runLines);
    c.CheckLines(L"device list at the end", {kLabelA, kLabelE, label6, label7},
                 ComboEntries(d, IDC_DEVICE_LIST));
}
} // namespace

const Scenario* EventScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"events-unplug-while-idle", UnplugWhileIdle},
        {L"events-plug-during-write", PlugDuringWrite},
        {L"events-storm-while-idle", StormWhileIdle},
        {L"events-storm-during-write", StormDuringWrite},
        {L"events-misbehaving-library", MisbehavingLibrary},
        {L"events-auto-download-arrival-then-removal", AutoDownloadArrivalThenRemoval},
        {L"events-auto-download-arrivals-during-write", AutoDownloadArrivalsDuringWrite},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
