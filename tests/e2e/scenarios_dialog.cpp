// The dialog's own behaviour: the log box, the count-limit box, the keys, what
// keyboard and screen reader users meet, and the ways of closing the tool.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "text_util.h"

#include <objbase.h>

namespace {
void LogBeyondEditLimit(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start("# nothing attached\n"))
        return;
    HWND d = s.Dialog();
    // The box already holds more than the edit control's default limit of
    // 30000 characters (a user may paste as much); new lines must still come.
    std::wstring filler;
    for (int i = 0; i < 320; ++i)
        filler += Format(L"%03d ", i) + std::wstring(94, L'x') + L"\r\n";
    SetText(d, IDC_LOG, filler);
    size_t before = ReadText(d, IDC_LOG).size();
    c.Check(before > 30000, L"log box prefilled", L"more than 30000 characters",
            Format(L"%zu", before));
    if (!s.Click(IDC_FIND_DEVICES) || !s.WaitSettled(2, kRunTimeoutMs))
        return;
    if (!s.Click(IDC_FIND_DEVICES) || !s.WaitSettled(3, kRunTimeoutMs))
        return;
    std::vector<std::wstring> lines = s.LogLines();
    c.CheckEqual(L"log box length after two more lines", static_cast<long long>(before + 2 * 22),
                 static_cast<long long>(ReadText(d, IDC_LOG).size()));
    std::vector<std::wstring> tail(lines.size() >= 3 ? lines.end() - 3 : lines.begin(),
                                   lines.end());
    c.CheckLines(
        L"last lines of the log",
        {L"319 " + std::wstring(94, L'x'), L"Not found isp device", L"Not found isp device"}, tail);
}

void ClearLog(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    SetText(d, IDC_WAIT_TIME, L"250");
    size_t calls = s.Sim().Calls().size();
    if (!s.Click(IDC_CLEAR_LOG))
        return;
    c.CheckEqual(L"log after 清空记录", L"", ReadText(d, IDC_LOG));
    c.CheckLines(L"device list kept", {kLabelA, kLabelB}, ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"info line kept", kInfoA, ReadText(d, IDC_DEVICE_INFO));
    c.CheckEqual(L"wait time kept", L"250", ReadText(d, IDC_WAIT_TIME));
    Sleep(300);
    c.CheckEqual(L"library calls caused by clearing", 0,
                 static_cast<long long>(s.Sim().Calls().size() - calls));
    // The box keeps working after a clear.
    if (!s.Command("unplug-all") || !s.WaitForLogLine(L"Not found isp device", 5000))
        return;
    c.CheckLines(L"log after clear and one new line", {L"Not found isp device"}, s.LogLines());
}

void CountLimitBox(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    size_t calls = s.Sim().Calls().size();
    c.CheckEqual(L"count field enabled at start", 0, IsEnabled(d, IDC_COUNT_LIMIT));
    if (!s.Check(IDC_LIMIT_COUNT, true))
        return;
    c.CheckEqual(L"count field enabled after checking the box", 1, IsEnabled(d, IDC_COUNT_LIMIT));
    if (!s.Check(IDC_LIMIT_COUNT, false))
        return;
    c.CheckEqual(L"count field enabled after unchecking the box", 0, IsEnabled(d, IDC_COUNT_LIMIT));
    if (!s.Check(IDC_LIMIT_COUNT, true))
        return;
    c.CheckEqual(L"count field enabled after checking again", 1, IsEnabled(d, IDC_COUNT_LIMIT));
    c.CheckEqual(L"library calls caused by the box", 0,
                 static_cast<long long>(s.Sim().Calls().size() - calls));
}

void EnterDoesNothing(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    std::vector<std::wstring> log = s.LogLines();
    size_t calls = s.Sim().Calls().size();
    // Enter in the wait-time field (no push button has the focus).
    if (!PostKey(d, IDC_WAIT_TIME, VK_RETURN) || !FlushPostedMessages(d, IDC_WAIT_TIME, 5000)) {
        c.Fail(L"the dialog did not take the posted Enter key and marker");
        return;
    }
    Sleep(300);
    c.Check(IsRunning(s.Process()) && IsWindowVisible(d), L"tool after Enter",
            L"running, dialog visible", IsRunning(s.Process()) ? L"dialog hidden" : L"ended");
    c.CheckLines(L"log after Enter", log, s.LogLines());
    c.CheckEqual(L"library calls caused by Enter", 0,
                 static_cast<long long>(s.Sim().Calls().size() - calls));
    c.CheckEqual(L"wait time after Enter and the marker", L"7", ReadText(d, IDC_WAIT_TIME));
}

// The fields and buttons in reading order, which is also the tab order, with
// the name a screen reader announces for each.
enum class NamedBy {
    Caption,
    Label,         // the static right before it in the template, often hidden
    LabelPosition, // editable combo: Wine names it by its text, so only its label is checked
};
struct Reached {
    int id;
    const wchar_t* name;
    NamedBy by;
};
const Reached kReadingOrder[] = {
    {IDC_DEVICE_LIST, L"设备列表:", NamedBy::LabelPosition},
    {IDC_DEVICE_INFO, L"设备信息", NamedBy::Label},
    {IDC_PORT_SELECT, L"下载端口选择:", NamedBy::LabelPosition},
    {IDC_WAIT_TIME, L"下载完成后等待时间(ms):", NamedBy::Label},
    {IDC_KEEP_POWER, L"下载完成后端口不断电", NamedBy::Caption},
    {IDC_MACHINE_SIGNAL, L"开启机器控制信号", NamedBy::Caption},
    {IDC_LIMIT_COUNT, L"限制下载次数", NamedBy::Caption},
    {IDC_COUNT_LIMIT, L"限制下载次数", NamedBy::Label},
    {IDC_FIND_DEVICES, L"查找设备", NamedBy::Caption},
    {IDC_CONFIGURE, L"配置", NamedBy::Caption},
    {IDC_LOG, L"记录", NamedBy::Label},
    {IDC_CLEAR_LOG, L"清空记录", NamedBy::Caption},
};

std::wstring FocusText(HWND control) {
    if (control == nullptr)
        return L"(no control)";
    int id = GetDlgCtrlID(control);
    for (const Reached& r : kReadingOrder)
        if (r.id == id)
            return Format(L"%d %ls", id, r.name);
    return Format(L"%d", id);
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

void CheckNames(ScenarioContext& c, HWND d) {
    if (!c.Check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)), L"COM for MSAA",
                 L"initialised", L"failed"))
        return;
    bool askMsaa = true;
    for (const Reached& r : kReadingOrder) {
        HWND control = Control(d, r.id);
        if (r.by != NamedBy::Caption) {
            HWND label = GetWindow(control, GW_HWNDPREV);
            wchar_t cls[16] = {};
            if (label != nullptr)
                GetClassNameW(label, cls, 16);
            c.CheckEqual(Format(L"static label right before control %d", r.id), r.name,
                         _wcsicmp(cls, L"Static") == 0 ? ReadWindowText(label) : L"(none)");
        }
        if (!askMsaa || r.by == NamedBy::LabelPosition)
            continue;
        std::wstring name;
        std::wstring why;
        if (AccessibleName(control, name, why)) {
            c.CheckEqual(Format(L"name announced for control %d", r.id), r.name, name);
        } else if (sizeof(void*) == 8 && UnderWine()) {
            // Wine's 64-bit loader finds no accessible object for any window.
            Out(L"    MSAA cannot be asked here (%ls, 64-bit under Wine): names checked by "
                L"their labels only\n",
                why.c_str());
            askMsaa = false;
        } else {
            c.Fail(Format(L"no MSAA name for control %d: ", r.id) + why);
        }
    }
    CoUninitialize();
}

// Start-up leaves the focus on the first field, Tab walks every field and
// button in reading order, and a run started from the keyboard leaves the
// focus on a control throughout and gives it back to "配置" at its end.
void NamesAndTabOrder(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    HWND d = s.Dialog();
    // The count-limit field takes the focus only while its box is checked.
    if (!s.Check(IDC_LIMIT_COUNT, true))
        return;
    std::vector<std::wstring> expected;
    for (const Reached& r : kReadingOrder)
        expected.push_back(FocusText(Control(d, r.id)));
    expected.push_back(expected.front());
    std::vector<std::wstring> seen = {FocusText(FocusedControl(d))};
    for (size_t i = 1; i < expected.size(); ++i) {
        HWND before = FocusedControl(d);
        if (!PostKeyTo(before, VK_TAB) ||
            !WaitFor([&] { return FocusedControl(d) != before; }, 2000)) {
            seen.push_back(L"(Tab did not move the focus)");
            break;
        }
        seen.push_back(FocusText(FocusedControl(d)));
    }
    c.CheckLines(L"focus after start-up, then after each Tab", expected, seen);
    CheckNames(c, d);

    HWND configure = Control(d, IDC_CONFIGURE);
    SendBounded(d, WM_NEXTDLGCTL, WPARAM(configure), TRUE, nullptr);
    if (!c.CheckEqual(L"focus before Space", FocusText(configure), FocusText(FocusedControl(d))) ||
        !PostKeyTo(configure, VK_SPACE) ||
        !s.WaitForLogLine(RunLine(kLabelA, L"begin config..."), 5000) ||
        !s.WaitForButtons(false, 3000))
        return;
    c.CheckEqual(L"focus during the run", FocusText(Control(d, IDC_LOG)),
                 FocusText(FocusedControl(d)));
    if (!s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs) ||
        !s.WaitForButtons(true, 3000))
        return;
    WaitFor([&] { return FocusedControl(d) == configure; }, 1000);
    c.CheckEqual(L"focus after the run", FocusText(configure), FocusText(FocusedControl(d)));
    c.CheckEqual(L"writes started by one Space", 1,
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_FlashProgramB")));
}

// Closes the tool one way and expects the process to end within 10 s.
void CloseOneWay(ScenarioContext& c, const wchar_t* how, void (*close)(HWND dialog)) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices())
        return;
    close(s.Dialog());
    c.Check(WaitForExit(s.Process(), 10000), std::wstring(L"process ends after ") + how,
            L"ended within 10 s", L"still running");
}

void EscapeEnds(ScenarioContext& c) {
    CloseOneWay(c, L"Escape", [](HWND d) { PostKey(d, IDC_WAIT_TIME, VK_ESCAPE); });
}

void CloseBoxEnds(ScenarioContext& c) {
    CloseOneWay(c, L"the close box (SC_CLOSE)",
                [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); });
    CloseOneWay(c, L"WM_CLOSE", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); });
}

// Escape and then the close box while a programmer is being written: the
// tool keeps running, says once that it will close, lets the write finish and
// report, then closes by itself. Windows' session end is refused meanwhile.
void CloseDuringWrite(ScenarioContext& c) {
    const std::wstring begin = RunLine(kLabelA, L"begin config...");
    const std::wstring succ = RunLine(kLabelA, L"config succ");
    const std::wstring deferral =
        L"A device is being written; the tool will close when the write ends.";
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 4000\n"))
        return;
    HWND d = s.Dialog();
    LRESULT answer = 0;
    bool answered = SendBounded(d, WM_QUERYENDSESSION, 0, 0, &answer);
    c.Check(answered && answer != 0, L"session end asked while idle", L"allowed",
            answered ? L"refused" : L"no answer");
    SendBounded(d, WM_ENDSESSION, FALSE, 0, nullptr); // another program called it off

    if (!s.Click(IDC_CONFIGURE) || !s.WaitForLogLine(begin, 5000))
        return;
    answered = SendBounded(d, WM_QUERYENDSESSION, 0, 0, &answer);
    c.Check(answered && answer == 0, L"session end asked during the write", L"refused",
            answered ? L"allowed" : L"no answer");
    SendBounded(d, WM_ENDSESSION, FALSE, 0, nullptr);
    PostKey(d, IDC_WAIT_TIME, VK_ESCAPE);
    if (!s.WaitForLogLine(deferral, 5000))
        return;
    PostMessageW(d, WM_CLOSE, 0, 0);
    PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(500);
    if (!c.Check(IsRunning(s.Process()),
                 L"the tool during the write, after Escape and the close box", L"still running",
                 L"ended"))
        return;

    // The tool closes within milliseconds of the outcome's line. Reading the
    // box without a pause keeps a read of the driver's waiting in the dialog's
    // queue, ahead of the posted close, so the line is seen before the window
    // goes; then the reads stop and the close goes through. Each read is one
    // message: the close could come between the two of ReadText, whose text
    // then stops at the length read before the line came.
    std::wstring seen;
    std::wstring text(4096, L'\0');
    HWND log = Control(d, IDC_LOG);
    const double start = NowMs();
    while (!Contains(seen, succ) && IsRunning(s.Process()) && NowMs() - start < kRunTimeoutMs) {
        LRESULT got = 0;
        if (SendBounded(log, WM_GETTEXT, text.size(), LPARAM(text.data()), &got) && got > 0)
            seen.assign(text.data(), size_t(got));
    }
    const double succAt = NowMs();
    c.CheckLines(L"log box when the write had ended",
                 {L"Set isp option succ", begin, deferral, succ}, SplitLines(seen));
    // The window goes at once; the process then takes Wine's exit time, about
    // 2 s even for an empty dialog (docs/performance.md), so its end is given
    // more room than the window's.
    const bool closed = WaitFor([&] { return !IsWindowVisible(d); }, 1000);
    const double closedAt = NowMs();
    c.Check(closed, L"the dialog after the write's outcome", L"closed by itself within 1 s",
            L"still shown");
    if (!c.Check(WaitForExit(s.Process(), 5000), L"the tool after its dialog closed",
                 L"ended within 5 s", L"still running"))
        return;
    Out(L"    dialog closed %.0f ms and process ended %.0f ms after the outcome's line was read\n",
        closedAt - succAt, NowMs() - succAt);
    const std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    std::vector<std::wstring> writeLines;
    for (const SimCall& call : writes)
        writeLines.push_back(call.line);
    c.Check(writes.size() == 1 && writes[0].result == L"1", L"the stand-in's log of the write",
            L"one Tamla_FlashProgramB with result 1", Describe(writeLines));
}
} // namespace

const Scenario* DialogScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"dialog-log-beyond-edit-limit", LogBeyondEditLimit},
        {L"dialog-clear-log", ClearLog},
        {L"dialog-count-limit-box", CountLimitBox},
        {L"dialog-enter-does-nothing", EnterDoesNothing},
        {L"dialog-names-and-tab-order", NamesAndTabOrder},
        {L"dialog-escape-ends", EscapeEnds},
        {L"dialog-close-box-ends", CloseBoxEnds},
        {L"dialog-close-during-write", CloseDuringWrite},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
