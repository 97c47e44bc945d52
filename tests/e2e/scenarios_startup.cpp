// Start-up: registration, the first search, the initial state of the dialog.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "text_util.h"

namespace {
std::vector<std::wstring> LibraryCalls(Simulator& sim) {
    std::vector<std::wstring> names;
    for (const SimCall& call : sim.Calls())
        if (StartsWith(call.function, L"Tamla_"))
            names.push_back(call.function);
    return names;
}

void CheckButtonsEnabled(ScenarioContext& c, HWND d, const wchar_t* when) {
    c.Check(IsEnabled(d, IDC_FIND_DEVICES) && IsEnabled(d, IDC_CONFIGURE),
            std::wstring(L"both action buttons enabled ") + when, L"enabled, enabled",
            Format(L"%ls, %ls", IsEnabled(d, IDC_FIND_DEVICES) ? L"enabled" : L"disabled",
                   IsEnabled(d, IDC_CONFIGURE) ? L"enabled" : L"disabled"));
}

void DefaultDevices(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start(""))
        return;
    HWND d = s.Dialog();
    c.CheckLines(L"log after start-up", {L"Set isp option succ"}, s.LogLines());
    CheckButtonsEnabled(c, d, L"after start-up");
    c.CheckLines(L"library calls at start-up",
                 {L"Tamla_SetIspOption", L"Tamla_SetIspOption", L"Tamla_EnumDevices"},
                 LibraryCalls(s.Sim()));
    for (const SimCall& call : s.Sim().CallsOf(L"Tamla_SetIspOption")) {
        c.CheckEqual(L"answer of " + call.line, L"1", call.result);
        CheckOptionDump(c, s, call);
    }
    for (const SimCall& call : s.Sim().CallsOf(L"Tamla_EnumDevices"))
        c.CheckEqual(L"Tamla_EnumDevices arguments", L"max=16", call.details);

    c.CheckLines(L"device list", {kLabelA, kLabelB}, ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"device list selection", 0, ComboSelection(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"info line", kInfoA, ReadText(d, IDC_DEVICE_INFO));

    // The dialog's start-up defaults.
    std::vector<std::wstring> ports = {L"PORT0"};
    for (int n = 1; n < 8; ++n)
        ports.push_back(Format(L"PORT0\uFF5E%d", n));
    c.CheckLines(L"port entries", ports, ComboEntries(d, IDC_PORT_SELECT));
    c.CheckEqual(L"port selection", 0, ComboSelection(d, IDC_PORT_SELECT));
    c.CheckEqual(L"wait time text", L"", ReadText(d, IDC_WAIT_TIME));
    c.CheckEqual(L"count limit text", L"", ReadText(d, IDC_COUNT_LIMIT));
    c.CheckEqual(L"count limit field enabled", 0, IsEnabled(d, IDC_COUNT_LIMIT));
    for (int id : {IDC_LIMIT_COUNT, IDC_MACHINE_SIGNAL, IDC_KEEP_POWER}) {
        c.CheckEqual(Format(L"box %d checked", id), 0, IsChecked(d, id));
        c.CheckEqual(Format(L"box %d visible", id), 1, IsVisible(d, id));
    }
    c.CheckEqual(L"hidden plug-notify box checked", 1, IsChecked(d, IDC_PLUG_NOTIFY));
    for (int id : {IDC_SERIAL_NOKEY, IDC_AUTO_DOWNLOAD})
        c.CheckEqual(Format(L"hidden box %d checked", id), 0, IsChecked(d, id));
    for (int id : {IDC_SERIAL_NOKEY, IDC_PLUG_NOTIFY, IDC_SET_ISP_OPTION, IDC_AUTO_DOWNLOAD,
                   IDC_DOWNLOAD_COUNT})
        c.CheckEqual(Format(L"control %d visible", id), 0, IsVisible(d, id));

    // Choosing the second entry shows its info; the focus alone keeps it.
    SelectComboEntry(d, IDC_DEVICE_LIST, 1);
    c.CheckEqual(L"info line after selecting entry 1", kInfoB, ReadText(d, IDC_DEVICE_INFO));
    ReportComboFocus(d, IDC_DEVICE_LIST);
    c.CheckEqual(L"info line after the list gains the focus", kInfoB, ReadText(d, IDC_DEVICE_INFO));
    SelectComboEntry(d, IDC_DEVICE_LIST, 0);
    c.CheckEqual(L"info line after selecting entry 0", kInfoA, ReadText(d, IDC_DEVICE_INFO));
}

void NoDevices(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start("# nothing attached\n"))
        return;
    HWND d = s.Dialog();
    c.CheckLines(L"log after start-up", {L"Set isp option succ", L"Not found isp device"},
                 s.LogLines());
    CheckButtonsEnabled(c, d, L"after a search that found nothing");
    c.CheckEqual(L"device list entries", 0,
                 static_cast<long long>(ComboEntries(d, IDC_DEVICE_LIST).size()));
    c.CheckEqual(L"info line", L"", ReadText(d, IDC_DEVICE_INFO));

    // Configure with nothing to configure: a hint, and no write.
    if (!s.Click(IDC_CONFIGURE))
        return;
    c.CheckLines(L"log after configure with an empty list",
                 {L"Set isp option succ", L"Not found isp device",
                  L"请先选择配置设备或者当前没有找到配置设备."},
                 s.LogLines());
    Sleep(500);
    c.CheckEqual(L"Tamla_FlashProgramB calls", 0,
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_FlashProgramB")));
    c.CheckEqual(L"result field", L"", ReadText(d, IDC_DOWNLOAD_COUNT));
    CheckButtonsEnabled(c, d, L"after configure with an empty list");

    // A device plugged in now appears without a click.
    if (!s.Command("plug 1 uid=3A017F0012C4 boot=0210 name=PROG-A") || !s.WaitForListCount(1, 5000))
        return;
    c.CheckLines(L"device list after a plug", {kLabelA}, ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"info line after a plug", kInfoA, ReadText(d, IDC_DEVICE_INFO));
}

void OptionsRefused(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("option-result 0\n"))
        return;
    HWND d = s.Dialog();
    c.CheckLines(L"log after start-up with the options refused",
                 {L"Set isp option failure.", L"Set isp option failure."}, s.LogLines());
    // The search still goes ahead, with the unique-id labels.
    c.CheckLines(L"device list", {kLabelA, kLabelB}, ComboEntries(d, IDC_DEVICE_LIST));
    CheckButtonsEnabled(c, d, L"after start-up");
    if (!s.Click(IDC_FIND_DEVICES) || !s.WaitSettled(2, kRunTimeoutMs))
        return;
    c.CheckEqual(L"Tamla_SetIspOption calls after one more search", 3,
                 static_cast<long long>(s.Sim().CountOf(L"Tamla_SetIspOption")));
    c.CheckEqual(L"log lines after one more search", 3,
                 static_cast<long long>(s.LogLines().size()));
}

void NameLabels(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("mode 1\nflash-ms 50\n"))
        return;
    HWND d = s.Dialog();
    c.CheckLines(L"device list in mode 1", {L"1#ISP DEV:PROG-A", L"2#ISP DEV:PROG-B"},
                 ComboEntries(d, IDC_DEVICE_LIST));
    c.CheckEqual(L"info line in mode 1", kInfoA, ReadText(d, IDC_DEVICE_INFO));
    // The configuration run keeps the unique-id label.
    SelectComboEntry(d, IDC_DEVICE_LIST, 1);
    if (!s.Click(IDC_CONFIGURE))
        return;
    s.WaitForLogLine(std::wstring(L"<") + kLabelB + L"> config succ", kRunTimeoutMs);
}
} // namespace

const Scenario* StartupScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"startup-default-devices", DefaultDevices},
        {L"startup-no-devices", NoDevices},
        {L"startup-options-refused", OptionsRefused},
        {L"startup-mode1-name-labels", NameLabels},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
