// Drives the built tool as a user would, from a second process in the same
// Wine prefix: checks its start-up state, a few commands, that Enter does
// nothing and that both Escape and the close box end the process.
//
// Usage: ui_probe.exe <path of ProgrammerSetup.exe>
// Needs the stand-in library beside the tool, with its default two devices.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "resource.h"

namespace {
int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++g_failures;
}

struct Tool {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
};

struct FindArgs {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (pid == args->pid && std::wcscmp(cls, L"#32770") == 0) {
        args->found = window;
        return FALSE;
    }
    return TRUE;
}

template <typename Pred> bool WaitFor(Pred pred, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 20) {
        if (pred())
            return true;
        Sleep(20);
    }
    return pred();
}

std::wstring Text(HWND control) {
    wchar_t buffer[4096] = {};
    SendMessageW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

HWND Item(const Tool& tool, int id) { return GetDlgItem(tool.dialog, id); }

bool Start(const wchar_t* exe, Tool& tool) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring command = std::wstring(L"\"") + exe + L"\"";
    if (!CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &tool.process)) {
        std::printf("     CreateProcess failed, error %lu\n", GetLastError());
        return false;
    }
    FindArgs args{tool.process.dwProcessId, nullptr};
    bool found = WaitFor(
        [&] {
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&args));
            return args.found != nullptr && IsWindowVisible(args.found);
        },
        15000);
    tool.dialog = args.found;
    if (!found) {
        DWORD code = 0;
        GetExitCodeProcess(tool.process.hProcess, &code);
        std::printf("     dialog window %s; tool exit code %lu\n",
                    args.found ? "found but not visible" : "not found",
                    static_cast<unsigned long>(code));
    }
    return found;
}

// Waits for the process to end; returns false (and ends it) on time-out.
bool Ends(Tool& tool, DWORD* exitCode) {
    bool ended = WaitForSingleObject(tool.process.hProcess, 10000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(tool.process.hProcess, 99);
    GetExitCodeProcess(tool.process.hProcess, exitCode);
    CloseHandle(tool.process.hThread);
    CloseHandle(tool.process.hProcess);
    return ended;
}

void CheckStartUp(const Tool& tool) {
    // The first search fills the list and then enables both buttons again.
    bool searched = WaitFor(
        [&] {
            return SendMessageW(Item(tool, IDC_DEVICE_LIST), CB_GETCOUNT, 0, 0) == 2 &&
                   IsWindowEnabled(Item(tool, IDC_FIND_DEVICES)) &&
                   IsWindowEnabled(Item(tool, IDC_CONFIGURE));
        },
        10000);
    Check(searched, "first search lists the two devices and leaves both buttons enabled");
    Check(Text(Item(tool, IDC_LOG)).rfind(L"Set isp option succ\r\n", 0) == 0,
          "log starts with the registration outcome");
    // The big icon is not checked here: Wine answers WM_GETICON from another
    // process with 0 even when the window has one.

    HWND ports = Item(tool, IDC_PORT_SELECT);
    const wchar_t* expected[] = {L"PORT0",    L"PORT0～1", L"PORT0～2", L"PORT0～3",
                                 L"PORT0～4", L"PORT0～5", L"PORT0～6", L"PORT0～7"};
    bool entries = SendMessageW(ports, CB_GETCOUNT, 0, 0) == 8;
    for (int i = 0; entries && i < 8; ++i) {
        wchar_t entry[32] = {};
        SendMessageW(ports, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        entries = std::wcscmp(entry, expected[i]) == 0;
    }
    Check(entries, "port list holds PORT0 .. PORT0～7 in index order");
    Check(SendMessageW(ports, CB_GETCURSEL, 0, 0) == 0, "first port entry selected");
    Check(SendMessageW(Item(tool, IDC_WAIT_TIME), EM_GETLIMITTEXT, 0, 0) == 9,
          "wait time limited to 9 characters");
    Check(SendMessageW(Item(tool, IDC_COUNT_LIMIT), EM_GETLIMITTEXT, 0, 0) == 5,
          "count limit limited to 5 characters");
    // Unsigned: the lifted limit of a multi-line edit is 0xFFFFFFFF.
    Check(static_cast<DWORD>(SendMessageW(Item(tool, IDC_LOG), EM_GETLIMITTEXT, 0, 0)) > 1000000,
          "log box has no small text limit");
    Check(!IsWindowEnabled(Item(tool, IDC_COUNT_LIMIT)), "count limit field starts disabled");
    Check(SendMessageW(Item(tool, IDC_PLUG_NOTIFY), BM_GETCHECK, 0, 0) == BST_CHECKED,
          "plug notification box checked");
    for (int id :
         {IDC_SERIAL_NOKEY, IDC_AUTO_DOWNLOAD, IDC_LIMIT_COUNT, IDC_MACHINE_SIGNAL, IDC_KEEP_POWER})
        Check(SendMessageW(Item(tool, id), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
              "other check boxes unchecked");
    for (int id : {IDC_SERIAL_NOKEY, IDC_PLUG_NOTIFY, IDC_SET_ISP_OPTION, IDC_AUTO_DOWNLOAD,
                   IDC_DOWNLOAD_COUNT})
        Check(!IsWindowVisible(Item(tool, id)), "hidden control not shown");
    Check(Text(Item(tool, IDC_WAIT_TIME)).empty() && Text(Item(tool, IDC_COUNT_LIMIT)).empty(),
          "number fields start empty");
}

void CheckCommands(const Tool& tool) {
    SendMessageW(Item(tool, IDC_LIMIT_COUNT), BM_CLICK, 0, 0);
    Check(IsWindowEnabled(Item(tool, IDC_COUNT_LIMIT)), "checking the limit box enables the field");
    SendMessageW(Item(tool, IDC_LIMIT_COUNT), BM_CLICK, 0, 0);
    Check(!IsWindowEnabled(Item(tool, IDC_COUNT_LIMIT)),
          "unchecking the limit box disables the field");

    SendMessageW(Item(tool, IDC_CLEAR_LOG), BM_CLICK, 0, 0);
    Check(Text(Item(tool, IDC_LOG)).empty(), "clear empties the log");
    Check(SendMessageW(Item(tool, IDC_DEVICE_LIST), CB_GETCOUNT, 0, 0) == 2,
          "clear leaves the device list alone");

    // Enter goes through the dialog manager as IDOK, which the tool ignores.
    PostMessageW(tool.dialog, WM_KEYDOWN, VK_RETURN, 0);
    Sleep(500);
    Check(IsWindow(tool.dialog) && IsWindowVisible(tool.dialog), "Enter leaves the dialog open");
    Check(Text(Item(tool, IDC_LOG)).empty(), "Enter logs nothing");
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: ui_probe.exe <ProgrammerSetup.exe>\n");
        return 2;
    }
    Tool first;
    Check(Start(argv[1], first), "tool starts and shows its dialog");
    if (first.dialog == nullptr)
        return 1;
    CheckStartUp(first);
    CheckCommands(first);
    PostMessageW(first.dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    DWORD code = 0;
    Check(Ends(first, &code), "Escape ends the process");
    std::printf("     exit code after Escape: %lu\n", static_cast<unsigned long>(code));

    Tool second;
    Check(Start(argv[1], second), "tool starts again");
    if (second.dialog == nullptr)
        return 1;
    PostMessageW(second.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    Check(Ends(second, &code), "close box ends the process");
    std::printf("     exit code after close box: %lu\n", static_cast<unsigned long>(code));

    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
