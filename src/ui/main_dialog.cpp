#include "main_dialog.h"

#include "close_guard.h"
#include "cp936_texts.h"
#include "dialog_commands.h"
#include "resource.h"
#include "screen_text.h"

#include <array>

std::atomic<HWND> MainDialog{nullptr};

static_assert(kCloseCommandId == IDCANCEL, "the core closes the dialog through IDCANCEL");

namespace {
std::atomic<HICON> g_bigIcon{nullptr};
std::atomic<HICON> g_smallIcon{nullptr};

// Shown by Windows beside the tool when it holds up the end of a session.
constexpr const wchar_t* kSessionBlockReason =
    L"A programmer is being written; ending now would leave it half written.";

// Index n names ports 0 to n; the list sorts them into this same order.
constexpr std::array<const char*, 8> kPortEntries = {
    "PORT0",        kTextPorts0To1, kTextPorts0To2, kTextPorts0To3,
    kTextPorts0To4, kTextPorts0To5, kTextPorts0To6, kTextPorts0To7,
};

// A button disabled while it has the focus keeps it under Wine, where a Space
// still presses it; where the focus is dropped instead, no control has it and
// the keyboard does nothing. So the focus moves on first, as Tab would, and
// comes back when the control is enabled again unless the user has moved it
// meanwhile. Only the dialog's thread touches this.
struct FocusLoan {
    HWND owner;  // the control that had the focus
    HWND holder; // where the focus went
};
FocusLoan g_focusLoan{};

constexpr WPARAM kWaitTimeMaxChars = 9;
constexpr WPARAM kCountLimitMaxChars = 5;

// Runs a button's command through the ordinary WM_COMMAND path before it
// returns. Unlike BM_CLICK this works on hidden buttons and while the dialog
// is not the active window.
void RunCommandNow(HWND window, int id) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void FillPortList(HWND window) {
    for (const char* entry : kPortEntries)
        SendDlgItemMessageW(window, IDC_PORT_SELECT, CB_ADDSTRING, 0, ScreenText(entry).param());
    SendDlgItemMessageW(window, IDC_PORT_SELECT, CB_SETCURSEL, 0, 0);
}

void OnInitDialog(HWND window) {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_bigIcon.load()));
    // The title bar and the task switcher's small view use the small icon;
    // without it they shrink the big one.
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_smallIcon.load()));
    FillPortList(window);
    SendDlgItemMessageW(window, IDC_WAIT_TIME, EM_LIMITTEXT, kWaitTimeMaxChars, 0);
    SendDlgItemMessageW(window, IDC_COUNT_LIMIT, EM_LIMITTEXT, kCountLimitMaxChars, 0);
    // The edit control's default limit (about 30000 characters) would make
    // the log silently stop taking lines in a long session.
    SendDlgItemMessageW(window, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
    CheckDlgButton(window, IDC_PLUG_NOTIFY, BST_CHECKED);
    EnableWindow(GetDlgItem(window, IDC_COUNT_LIMIT), FALSE);
    RunCommandNow(window, IDC_SET_ISP_OPTION);
    RunCommandNow(window, IDC_FIND_DEVICES);
}

void EnableControl(HWND window, int id, bool enabled) {
    HWND control = GetDlgItem(window, id);
    HWND focus = GetFocus();
    if (!enabled && focus != nullptr && (focus == control || IsChild(control, focus))) {
        // Passed on again (the other action button): the first owner keeps its claim.
        if (focus != g_focusLoan.holder)
            g_focusLoan.owner = control;
        SendMessageW(window, WM_NEXTDLGCTL, 0, FALSE);
        g_focusLoan.holder = GetFocus();
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
    if (enabled && control == g_focusLoan.owner) {
        if (GetFocus() == g_focusLoan.holder)
            SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        g_focusLoan = {};
    }
}

// Escape, the close box and Alt+F4. While a write runs the core keeps the
// tool open and posts IDCANCEL again once the write has ended.
void OnCancel(HWND window) {
    if (RequestClose())
        DestroyWindow(window);
}

INT_PTR OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (id == IDCANCEL) {
        OnCancel(window);
        return 0;
    }
    if (HandleDialogCommand(id, HIWORD(wParam)))
        return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// A session may end unless a write runs: then the answer is no, with the
// reason Windows shows, and the write finishes.
INT_PTR OnQueryEndSession(HWND window) {
    const bool allow = MaySessionEnd();
    if (allow)
        ShutdownBlockReasonDestroy(window);
    else
        ShutdownBlockReasonCreate(window, kSessionBlockReason);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, allow ? TRUE : FALSE);
    return TRUE;
}

void OnEndSession(HWND window, bool ending) {
    if (ending)
        return; // the process ends when this returns
    ShutdownBlockReasonDestroy(window);
    SessionEndCalledOff();
}
} // namespace

void KeepAppIcons(HICON bigIcon, HICON smallIcon) {
    g_bigIcon.store(bigIcon);
    g_smallIcon.store(smallIcon);
}

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDialog.store(window);
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return TRUE; // the focus to the first tab stop, the device list
    case kEnableControlMessage:
        EnableControl(window, static_cast<int>(wParam), lParam != 0);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
        return OnQueryEndSession(window);
    case WM_ENDSESSION:
        OnEndSession(window, wParam != FALSE);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return 0;
    }
}
