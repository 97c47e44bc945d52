// Repeated find-devices presses while the library reports plugs and unplugs,
// with a slow search, against a library that calls back from inside its own
// calls and one that calls back while holding its own lock, and a press
// while that library holds its lock before it reports. The tool must keep
// answering, end on Escape, and list exactly the attached devices.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "text_util.h"

#include <iterator>

namespace {
// Long enough for an event to land inside a search, short enough for CI.
constexpr unsigned kSearchMs = 300;
// A sent WM_NULL unanswered this long means the dialog's thread is stuck.
constexpr unsigned kAnswerMs = 5000;
// How long the tool may take to settle once the events have stopped.
constexpr unsigned kSettleMs = 5000;
// How long the stand-in holds its lock before it reports an arrival: room
// for the driver to see its marker and press, on a loaded host too.
constexpr unsigned kRescanMs = 3000;
// The bound of each wait of the press in that window; generous for Wine on
// two shared cores, and no measure of speed.
constexpr unsigned kHeldBoundMs = 20000;

// List entries of devices whose uid the stand-in derived from the id.
std::vector<std::wstring> Labels(const std::vector<uint32_t>& ids) {
    std::vector<std::wstring> labels;
    for (uint32_t id : ids)
        labels.push_back(Format(L"%u#ISP DEV:70-00-%02X-%02X-%02X-%02X", id, id >> 24,
                                (id >> 16) & 0xFF, (id >> 8) & 0xFF, id & 0xFF));
    return labels;
}

bool Answers(ScenarioContext& c, ToolSession& s, const std::wstring& when) {
    if (PingMs(s.Dialog(), kAnswerMs) >= 0)
        return true;
    c.Fail(Format(L"the dialog did not answer a sent WM_NULL within %u ms %ls: the dialog's "
                  L"thread is stuck",
                  kAnswerMs, when.c_str()));
    return false;
}

// A press as a user makes it, once the button is enabled. The click is sent
// with the same bound as the WM_NULL after it.
bool PressFindDevices(ScenarioContext& c, ToolSession& s, int number, const wchar_t* phase) {
    HWND d = s.Dialog();
    if (!WaitFor([&] { return IsEnabled(d, IDC_FIND_DEVICES); }, kSettleMs)) {
        c.Fail(Format(L"\"查找设备\" stayed disabled for %u ms before press %d (%ls): a search "
                      L"never ended",
                      kSettleMs, number, phase));
        return false;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(d, WM_COMMAND, MAKEWPARAM(IDC_FIND_DEVICES, BN_CLICKED),
                        LPARAM(Control(d, IDC_FIND_DEVICES)), SMTO_NORMAL, kAnswerMs, &answer);
    return Answers(c, s, Format(L"after press %d (%ls)", number, phase));
}

// The library's own reports: the attached devices inside a registration, the
// device set (code 1) inside a search.
bool Report(const SimCall& event) {
    return Contains(event.details, L"in=Tamla_SetIspOption") ||
           (StartsWith(event.details, L"code=1 ") &&
            Contains(event.details, L"in=Tamla_EnumDevices"));
}

// Event lines of the call log, without the library's own reports.
size_t LibraryEvents(ToolSession& s) {
    size_t count = 0;
    for (const SimCall& call : s.Sim().CallsOf(L"event"))
        count += Report(call) ? 0 : 1;
    return count;
}

// The tool has caught up: every event delivered, no search running, the
// list equal to the attached set.
bool Settles(ScenarioContext& c, ToolSession& s, size_t events, const std::vector<uint32_t>& ids,
             const std::wstring& when, unsigned timeoutMs = kSettleMs) {
    HWND d = s.Dialog();
    std::vector<std::wstring> expected = Labels(ids);
    bool settled = WaitFor(
        [&] {
            return LibraryEvents(s) >= events && IsEnabled(d, IDC_FIND_DEVICES) &&
                   IsEnabled(d, IDC_CONFIGURE) && ComboEntries(d, IDC_DEVICE_LIST) == expected;
        },
        timeoutMs);
    if (settled)
        return true;
    size_t delivered = LibraryEvents(s);
    bool searching = !IsEnabled(d, IDC_FIND_DEVICES);
    std::wstring stuck = delivered < events ? L"the library's callback has not returned" : L"";
    if (searching)
        stuck += std::wstring(stuck.empty() ? L"" : L", ") + L"a search has not ended";
    c.Fail(Format(L"the tool did not settle within %u ms %ls: %zu of %zu events delivered, "
                  L"buttons %ls%ls%ls\n      list:%ls      expected:%ls",
                  timeoutMs, when.c_str(), delivered, events, searching ? L"disabled" : L"enabled",
                  stuck.empty() ? L"" : L": ", stuck.c_str(),
                  Describe(ComboEntries(d, IDC_DEVICE_LIST)).c_str(), Describe(expected).c_str()));
    return false;
}

// No call for longer than a search: nothing is running in the tool.
void WaitQuiet(ToolSession& s) {
    size_t calls = s.Sim().Calls().size();
    for (int i = 0; i < 10; ++i) {
        Sleep(kSearchMs + 100);
        size_t now = s.Sim().Calls().size();
        if (now == calls)
            return;
        calls = now;
    }
}

// The searches one press costs: from `before` until both buttons are back
// and stay (no library call for longer than a search), bounded.
constexpr size_t kMaxSearchesPerPress = 4;
bool PressEnds(ScenarioContext& c, ToolSession& s, const std::wstring& press, size_t before,
               std::wstring& figures) {
    HWND d = s.Dialog();
    size_t lines = 0;
    DWORD changed = GetTickCount();
    bool back = WaitFor(
        [&] {
            size_t now = s.Sim().Calls().size();
            if (now != lines) {
                lines = now;
                changed = GetTickCount();
            }
            return IsEnabled(d, IDC_FIND_DEVICES) && IsEnabled(d, IDC_CONFIGURE) &&
                   GetTickCount() - changed > kSearchMs + 200;
        },
        kSettleMs);
    size_t cost = s.Sim().CountOf(L"Tamla_EnumDevices") - before;
    figures += Format(L" %zu", cost);
    if (!back) {
        c.Fail(Format(L"the buttons were not back for good within %u ms after %ls: the search "
                      L"goes on, %zu Tamla_EnumDevices calls so far",
                      kSettleMs, press.c_str(), cost));
        return false;
    }
    return c.Check(cost <= kMaxSearchesPerPress, L"Tamla_EnumDevices calls of " + press,
                   Format(L"at most %zu", kMaxSearchesPerPress), Format(L"%zu", cost));
}

void EndsOnEscape(ScenarioContext& c, ToolSession& s, unsigned timeoutMs = 5000) {
    PostKey(s.Dialog(), IDC_WAIT_TIME, VK_ESCAPE);
    c.Check(WaitForExit(s.Process(), timeoutMs), L"the tool ends on Escape",
            Format(L"ended within %u ms", timeoutMs), L"still running");
}

std::string StartingWith(const char* mode) {
    return "device 1\ndevice 2\nenum-ms " + std::to_string(kSearchMs) + "\n" + mode + "\n";
}

// The callback also runs on the caller's thread: inside a press's
// registration (made by the tool's worker, never on the dialog's thread)
// and inside searches, which deliver the events still queued and report the
// device set. First the start-up and a few presses alone, each measured:
// that report must not make a search ask for another without end. Then
// events come in pairs, so one waits while the other is handled; the last
// pair comes while the tool is idle, so the search the first one causes
// delivers the second on the thread that is already inside the callback.
void CallbacksInCalls(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start(StartingWith("callbacks-in-calls on"), false))
        return;
    std::wstring figures;
    if (!PressEnds(c, s, L"the start-up", 0, figures))
        return;
    int presses = 0;
    while (presses < 3) {
        size_t before = s.Sim().CountOf(L"Tamla_EnumDevices");
        if (!PressFindDevices(c, s, ++presses, L"alone") ||
            !PressEnds(c, s, Format(L"press %d", presses), before, figures))
            return;
    }
    Out(L"    Tamla_EnumDevices calls per press (start-up first):%ls\n", figures.c_str());
    std::wstring done;
    std::wstring error;
    if (!s.Sim().Post("plug 5\nunplug 1\nwait 700\n"
                      "plug 6\nunplug 5\nwait 700\n"
                      "plug 7\nunplug 2\n",
                      done, error)) {
        c.Fail(error);
        return;
    }
    while (!FileExists(done) && presses < 15)
        if (!PressFindDevices(c, s, ++presses, L"while the events come"))
            return;
    if (!Settles(c, s, 6, {6, 7}, L"after the events"))
        return;
    WaitQuiet(s);
    if (!s.Sim().Post("plug 8\nunplug 6\n", done, error)) {
        c.Fail(error);
        return;
    }
    if (!Settles(c, s, 8, {7, 8}, L"after a pair of events while idle") ||
        !PressFindDevices(c, s, ++presses, L"after the events") ||
        !Settles(c, s, 8, {7, 8}, L"after the last press"))
        return;
    size_t inRegistration = 0;
    size_t inSearch = 0;
    for (const SimCall& call : s.Sim().CallsOf(L"event")) {
        inRegistration += Contains(call.details, L"in=Tamla_SetIspOption") ? 1 : 0;
        inSearch += !Report(call) && Contains(call.details, L"in=Tamla_EnumDevices") ? 1 : 0;
    }
    Out(L"    %d presses; %zu reports inside registrations, %zu of 8 events inside searches\n",
        presses, inRegistration, inSearch);
    // A registration the library's thread makes inside its own callback gets
    // no report of its own, so not every press's registration has one.
    c.Check(inRegistration != 0, L"the callback ran inside registrations", L"at least 1 report",
            Format(L"%zu", inRegistration));
    EndsOnEscape(c, s);
}

// The library calls back while holding its own lock, which every export
// takes; a search scans before it takes the lock. A press while the library
// holds that lock is PressWhileLockHeld's case; here each event is sent
// only once the press's registration has returned. It then reaches the tool
// while the press's search is scanning, and the search waits for the lock
// while the callback runs: the tool must not let that callback wait for the
// search.
void CallbacksUnderLock(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start(StartingWith("callbacks-under-lock on")))
        return;
    struct Round {
        const char* command;
        std::vector<uint32_t> attached;
    };
    const Round rounds[] = {
        {"plug 5", {1, 2, 5}}, {"unplug 1", {2, 5}},  {"plug 6", {2, 5, 6}},
        {"unplug 5", {2, 6}},  {"plug 7", {2, 6, 7}}, {"unplug 2", {6, 7}},
    };
    size_t duringSearch = 0;
    size_t number = 0;
    for (const Round& round : rounds) {
        std::wstring when =
            Format(L"in round %zu (%ls)", ++number, FromUtf8(round.command).c_str());
        size_t registrations = s.Sim().CountOf(L"Tamla_SetIspOption");
        // A request merged into the last round's search makes the refresher
        // search once more, so the button may still be off for a while.
        WaitFor([&] { return IsEnabled(s.Dialog(), IDC_FIND_DEVICES); }, kSettleMs);
        if (!s.Click(IDC_FIND_DEVICES) ||
            !s.Sim().WaitForCalls(L"Tamla_SetIspOption", registrations + 1, kSettleMs))
            return;
        std::vector<SimCall> options = s.Sim().CallsOf(L"Tamla_SetIspOption");
        if (!c.CheckEqual(L"registrations returned " + when,
                          static_cast<long long>(registrations + 1),
                          static_cast<long long>(options.size())))
            return;
        std::wstring done;
        std::wstring error;
        if (!s.Sim().Post(round.command, done, error)) {
            c.Fail(error);
            return;
        }
        if (!Settles(c, s, number, round.attached, when) || !Answers(c, s, when))
            return;
        // Delivered between the press's registration and the end of the
        // search it started?
        unsigned pressed = options.back().seq;
        unsigned event = s.Sim().CallsOf(L"event").back().seq;
        for (const SimCall& search : s.Sim().CallsOf(L"Tamla_EnumDevices"))
            if (search.seq > pressed) {
                duringSearch += event > pressed && event < search.seq ? 1 : 0;
                break;
            }
    }
    Out(L"    %zu of 6 events reached the tool while the press's search was under way\n",
        duringSearch);
    c.Check(duringSearch * 2 >= std::size(rounds), L"events during the press's search",
            L"at least half of the rounds", Format(L"%zu of 6", duringSearch));
    EndsOnEscape(c, s);
}

// The call log from the stand-in's rescan on, for a failure's message.
std::wstring CallsSinceRescan(ToolSession& s) {
    std::wstring text;
    bool since = false;
    for (const SimCall& call : s.Sim().Calls()) {
        since = since || call.function == L"rescan";
        if (since)
            text += L"\n        " + call.line;
    }
    return text;
}

// The library holds its lock for a while before it reports an arrival, as
// one that rescans the bus under its lock does, and "查找设备" is pressed
// then, while the buttons are still enabled. The stand-in's marker file
// exists just while it holds the lock that way, so the press lands inside
// the window. The callback that follows refreshes the list through the
// dialog, so a press that waits for the library's lock on the dialog's
// thread never returns. Then the arrived device is written and the tool
// closes.
void PressWhileLockHeld(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start("device 1\ndevice 2\nflash-ms 300\ncallbacks-under-lock on\nrescan-ms " +
                 std::to_string(kRescanMs) + "\n"))
        return;
    HWND d = s.Dialog();
    const std::wstring marker = JoinPath(s.Sim().Folder(), L"rescanning");
    std::wstring done;
    std::wstring error;
    if (!s.Sim().Post("plug 5", done, error)) {
        c.Fail(error);
        return;
    }
    if (!WaitFor([&] { return FileExists(marker); }, kHeldBoundMs)) {
        c.Fail(Format(L"the stand-in did not hold its lock for a rescan within %u ms of "
                      L"\"plug 5\"; calls.log:%ls",
                      kHeldBoundMs, CallsSinceRescan(s).c_str()));
        return;
    }
    if (!c.Check(IsEnabled(d, IDC_FIND_DEVICES), L"\"查找设备\" while the library holds its lock",
                 L"enabled", L"disabled"))
        return;
    size_t registrations = s.Sim().CountOf(L"Tamla_SetIspOption");
    DWORD_PTR answer = 0;
    bool returned = SendMessageTimeoutW(d, WM_COMMAND, MAKEWPARAM(IDC_FIND_DEVICES, BN_CLICKED),
                                        LPARAM(Control(d, IDC_FIND_DEVICES)), SMTO_NORMAL,
                                        kHeldBoundMs, &answer) != 0;
    bool inWindow = FileExists(marker);
    if (!returned) {
        bool callbackReturned = !s.Sim().CallsOf(L"event").empty();
        c.Fail(Format(L"the dialog's thread did not return from the press of \"查找设备\" within "
                      L"%u ms: it hangs (the arrival's callback has %lsreturned); calls.log from "
                      L"the rescan on:%ls",
                      kHeldBoundMs, callbackReturned ? L"" : L"not ", CallsSinceRescan(s).c_str()));
        return;
    }
    c.Check(inWindow, L"the press was handled while the stand-in held its lock",
            L"its marker still there once the press returned",
            L"the rescan had ended: the press missed the window");
    // The press registers, then searches; once that search is over and
    // nothing else runs, the list must hold the arrived device.
    bool searched = WaitFor(
        [&] {
            std::vector<SimCall> options = s.Sim().CallsOf(L"Tamla_SetIspOption");
            std::vector<SimCall> searches = s.Sim().CallsOf(L"Tamla_EnumDevices");
            return options.size() > registrations && !searches.empty() &&
                   searches.back().seq > options[registrations].seq;
        },
        kHeldBoundMs);
    if (!searched) {
        c.Fail(Format(L"the press's registration and search were not seen within %u ms; "
                      L"calls.log from the rescan on:%ls",
                      kHeldBoundMs, CallsSinceRescan(s).c_str()));
        return;
    }
    WaitQuiet(s);
    if (!Settles(c, s, 1, {1, 2, 5}, L"after the press while the lock was held", kHeldBoundMs))
        return;
    const std::wstring label = Labels({5})[0];
    if (!c.Check(SelectComboEntry(d, IDC_DEVICE_LIST, 2), L"selecting the arrived device",
                 L"selected", L"the dialog did not answer") ||
        !s.BeginConfigure(label.c_str(), kHeldBoundMs) ||
        !s.WaitForLogLine(RunLine(label.c_str(), L"config succ"), kHeldBoundMs))
        return;
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    if (!c.CheckEqual(L"writes", 1, static_cast<long long>(writes.size())))
        return;
    c.CheckEqual(L"the write of the arrived device", L"id=5 len=61440 args=1,0,0,0",
                 writes[0].details);
    c.CheckEqual(L"write result", L"1", writes[0].result);
    CheckFlashDump(c, s.Sim(), writes[0], ImageOptions{});
    EndsOnEscape(c, s, kHeldBoundMs);
}
} // namespace

const Scenario* LibraryCallbackScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"callbacks-in-calls-find-devices", CallbacksInCalls},
        {L"callbacks-under-lock-find-devices", CallbacksUnderLock},
        {L"callbacks-under-lock-press-while-held", PressWhileLockHeld},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
