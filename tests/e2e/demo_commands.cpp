#include "demo_commands.h"

#include "dialog_remote.h"
#include "resource.h"
#include "scenario_support.h"
#include "simulator.h"
#include "text_util.h"
#include "tool_process.h"

namespace {
constexpr unsigned kDemoTimeoutMs = 30000;

bool Fail(const wchar_t* what) {
    Out(L"demo: %ls\n", what);
    return false;
}

bool Drive(HWND d) {
    std::wstring why;
    if (!SetText(d, IDC_WAIT_TIME, L"500") || !SetCheck(d, IDC_LIMIT_COUNT, true, why) ||
        !SetText(d, IDC_COUNT_LIMIT, L"1000") || !SelectComboEntry(d, IDC_PORT_SELECT, 3) ||
        !SetCheck(d, IDC_KEEP_POWER, true, why))
        return Fail((L"cannot set the options: " + why).c_str());
    if (!ClickButton(d, IDC_CONFIGURE, why))
        return Fail((L"cannot press 配置: " + why).c_str());
    return true;
}

bool Finished(HWND d) {
    for (const std::wstring& line : SplitLines(ReadText(d, IDC_LOG)))
        if (EndsWith(line, L"> config succ") || EndsWith(line, L"> config failure."))
            return true;
    return false;
}
} // namespace

int RunDemo(const std::wstring& stage) {
    Simulator sim(JoinPath(stage, L"demo"));
    if (!sim.Prepare("")) {
        Out(L"demo: cannot prepare %ls\n", sim.Folder().c_str());
        return 1;
    }
    ToolProcess process;
    std::wstring error;
    if (!LaunchProgram(JoinPath(stage, L"ProgrammerSetup.exe"), sim.Folder(), process, error) ||
        !WaitForDialog(process, kDemoTimeoutMs, error)) {
        Out(L"demo: %ls\n", error.c_str());
        KillProcess(process);
        CloseProcessHandles(process);
        return 1;
    }
    HWND d = process.dialog;
    bool ok = WaitFor([&] { return !ComboEntries(d, IDC_DEVICE_LIST).empty(); }, kDemoTimeoutMs) ||
              Fail(L"the device list stayed empty");
    ok = ok && (WaitFor([&] { return IsEnabled(d, IDC_CONFIGURE); }, kDemoTimeoutMs) ||
                Fail(L"配置 stayed disabled"));
    ok = ok && Drive(d);
    ok = ok && (WaitFor([&] { return Finished(d); }, kDemoTimeoutMs) ||
                Fail(L"no configuration outcome in the log"));
    for (const std::wstring& line : SplitLines(ReadText(d, IDC_LOG)))
        Out(L"%ls\n", line.c_str());
    if (ok) {
        std::wstring dump = sim.NewestFlashDump();
        ok = !dump.empty() || Fail(L"no flash dump was written");
        if (ok)
            Out(L"dump: %ls\n", dump.c_str());
    }
    // The tool stays up for the user on success.
    if (!ok)
        KillProcess(process);
    CloseProcessHandles(process);
    return ok ? 0 : 1;
}

int CloseRunningTool() {
    DWORD processId = 0;
    HWND dialog = FindDialogOfImage(L"ProgrammerSetup.exe", &processId);
    if (dialog == nullptr) {
        Out(L"close: no running ProgrammerSetup.exe dialog\n");
        return 1;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    // What the dialog manager sends for Escape.
    SendBounded(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, nullptr);
    bool ended = process != nullptr && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    if (process != nullptr)
        CloseHandle(process);
    Out(ended ? L"close: ProgrammerSetup.exe ended\n"
              : L"close: ProgrammerSetup.exe did not end within 10 s\n");
    return ended ? 0 : 1;
}
