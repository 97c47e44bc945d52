// Configuration runs: the written image, the log, the result field and the
// buttons, for the option values a user can give.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "text_util.h"

namespace {
// The result field as it stands once it holds expected, or after 3 s: the
// tool writes it just after the outcome's log line.
std::wstring ResultField(HWND d, const std::wstring& expected) {
    std::wstring seen;
    WaitFor([&] { return (seen = ReadText(d, IDC_DOWNLOAD_COUNT)) == expected; }, 3000);
    return seen;
}

// Waits for the count-th write to be logged by the simulator and returns it.
bool WaitForWrite(ScenarioContext& c, ToolSession& s, size_t count, SimCall& call) {
    if (!s.Sim().WaitForCalls(L"Tamla_FlashProgramB", count, kRunTimeoutMs)) {
        c.Fail(Format(L"write %zu not seen within %u ms; log:%ls", count, kRunTimeoutMs,
                      Describe(s.LogLines()).c_str()));
        return false;
    }
    call = s.Sim().CallsOf(L"Tamla_FlashProgramB")[count - 1];
    return true;
}

void Defaults(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 800\n"))
        return;
    HWND d = s.Dialog();
    if (!s.BeginConfigure(kLabelA))
        return;
    // The buttons are off for the length of the write.
    s.WaitForButtons(false, 600);
    if (!s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs))
        return;
    s.WaitForButtons(true, 3000);
    c.CheckLines(L"log of a configuration",
                 {L"Set isp option succ", RunLine(kLabelA, L"begin config..."),
                  RunLine(kLabelA, L"config succ")},
                 s.LogLines());
    c.CheckEqual(L"result field", L">>>>配置成功!", ResultField(d, L">>>>配置成功!"));
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    if (!c.CheckEqual(L"number of writes", 1, static_cast<long long>(writes.size())))
        return;
    c.CheckEqual(L"write arguments", L"id=1 len=61440 args=1,0,0,0", writes[0].details);
    c.CheckEqual(L"write result", L"1", writes[0].result);
    CheckFlashDump(c, s.Sim(), writes[0], ImageOptions{});
    c.CheckLines(L"device list after the write", {kLabelA, kLabelB},
                 ComboEntries(d, IDC_DEVICE_LIST));
}

void EveryOption(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 100\n"))
        return;
    HWND d = s.Dialog();
    SelectComboEntry(d, IDC_DEVICE_LIST, 1);
    SetText(d, IDC_WAIT_TIME, L"500");
    if (!s.Check(IDC_LIMIT_COUNT, true))
        return;
    SetText(d, IDC_COUNT_LIMIT, L"1000");
    SelectComboEntry(d, IDC_PORT_SELECT, 7);
    if (!s.Check(IDC_MACHINE_SIGNAL, true) || !s.Check(IDC_KEEP_POWER, true))
        return;
    SimCall write;
    if (!s.Click(IDC_CONFIGURE) || !WaitForWrite(c, s, 1, write))
        return;
    c.CheckEqual(L"write arguments", L"id=2 len=61440 args=1,0,0,0", write.details);
    ImageOptions expected;
    expected.countLimitSet = true;
    expected.countLimit = 1000;
    expected.port = 7;
    expected.waitMs = 500;
    expected.machineSignal = true;
    expected.keepPower = true;
    CheckFlashDump(c, s.Sim(), write, expected);
    if (s.WaitForLogLine(RunLine(kLabelB, L"config succ"), kRunTimeoutMs))
        c.CheckEqual(L"result field", L">>>>配置成功!", ResultField(d, L">>>>配置成功!"));
    // The option controls keep what the user gave them.
    c.CheckEqual(L"wait time text kept", L"500", ReadText(d, IDC_WAIT_TIME));
    c.CheckEqual(L"port selection kept", 7, ComboSelection(d, IDC_PORT_SELECT));
}

struct ReadingCase {
    const wchar_t* waitText;
    bool limitChecked;
    const wchar_t* countText;
    bool typed; // typed key by key, so the field's length limit applies
    ImageOptions expected;
};

void NumberReading(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 30\n"))
        return;
    HWND d = s.Dialog();
    const ReadingCase cases[] = {
        {L"abc", true, L"  77", false, {true, 77, 1, 0, false, false}},
        {L"12ab", true, L"-5", false, {false, 0, 2, 12, false, false}},
        {L"   ", false, L"1000", false, {false, 0, 3, 0, false, false}},
        {L"999999999", true, L"0", false, {false, 0, 4, 999999999, false, false}},
        {L"", true, L"", false, {false, 0, 5, 0, false, false}},
        {L"1234567890", true, L"654321", true, {true, 65432, 6, 123456789, false, false}},
        {L" 0042", true, L"00009", false, {true, 9, 0, 42, false, false}},
    };
    size_t number = 0;
    for (const ReadingCase& reading : cases) {
        ++number;
        // The count is given while its field is enabled, then the box is set.
        if (!s.Check(IDC_LIMIT_COUNT, true))
            return;
        if (reading.typed) {
            TypeText(d, IDC_WAIT_TIME, reading.waitText);
            TypeText(d, IDC_COUNT_LIMIT, reading.countText);
            c.CheckEqual(L"typed wait time, at most 9 characters", L"123456789",
                         ReadText(d, IDC_WAIT_TIME));
            c.CheckEqual(L"typed count limit, at most 5 characters", L"65432",
                         ReadText(d, IDC_COUNT_LIMIT));
        } else {
            SetText(d, IDC_WAIT_TIME, reading.waitText);
            SetText(d, IDC_COUNT_LIMIT, reading.countText);
        }
        if (!s.Check(IDC_LIMIT_COUNT, reading.limitChecked))
            return;
        SelectComboEntry(d, IDC_PORT_SELECT, reading.expected.port);
        SimCall write;
        if (!s.Click(IDC_CONFIGURE) || !WaitForWrite(c, s, number, write))
            return;
        int before = c.Failures();
        CheckFlashDump(c, s.Sim(), write, reading.expected);
        if (c.Failures() > before)
            Out(L"      (case %zu: wait \"%ls\", count \"%ls\", limit %ls, %ls)\n", number,
                reading.waitText, reading.countText, reading.limitChecked ? L"on" : L"off",
                reading.typed ? L"typed" : L"set");
        // Next case only once the buttons are back.
        if (!s.WaitForButtons(true, kRunTimeoutMs))
            return;
    }
}

void FailedWrite(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-result 0\nflash-ms 50\n"))
        return;
    HWND d = s.Dialog();
    if (!s.Click(IDC_CONFIGURE) ||
        !s.WaitForLogLine(RunLine(kLabelA, L"config failure."), kRunTimeoutMs))
        return;
    s.WaitForButtons(true, 3000);
    c.CheckLines(L"log of a failed configuration",
                 {L"Set isp option succ", RunLine(kLabelA, L"begin config..."),
                  RunLine(kLabelA, L"config failure.")},
                 s.LogLines());
    c.CheckEqual(L"result field", L">>>>配置失败!", ResultField(d, L">>>>配置失败!"));
    std::vector<SimCall> writes = s.Sim().CallsOf(L"Tamla_FlashProgramB");
    if (c.CheckEqual(L"number of writes", 1, static_cast<long long>(writes.size())))
        c.CheckEqual(L"write result", L"0", writes[0].result);
    // A later success replaces the result text.
    if (!s.Command("flash-result 1") || !s.Click(IDC_CONFIGURE) ||
        !s.WaitForLogLine(RunLine(kLabelA, L"config succ"), kRunTimeoutMs))
        return;
    c.CheckEqual(L"result field after a success", L">>>>配置成功!",
                 ResultField(d, L">>>>配置成功!"));
}
} // namespace

const Scenario* ConfigureScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"configure-defaults", Defaults},
        {L"configure-every-option", EveryOption},
        {L"configure-number-reading", NumberReading},
        {L"configure-failed-write", FailedWrite},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
