// Operating the tool's dialog from outside its process, by control id, the
// way a user's input reaches it. Every call is bounded by a time-out so a
// hung dialog thread fails a check instead of hanging the suite.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr UINT kSendTimeoutMs = 10000;

// Sends with SMTO_ABORTIFHUNG-free time-out; false when the dialog did not
// answer in time.
bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

HWND Control(HWND dialog, int id);
std::wstring ReadText(HWND dialog, int id);
// Any window's text, read with WM_GETTEXT (GetWindowText does not cross
// processes).
std::wstring ReadWindowText(HWND window);
bool SetText(HWND dialog, int id, const std::wstring& text);
// Types characters one by one (WM_CHAR), so the edit's text limit applies as
// it does to a user. The old text is selected first and replaced.
bool TypeText(HWND dialog, int id, const std::wstring& text);
bool IsEnabled(HWND dialog, int id);
bool IsVisible(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);

// A button press as the button itself reports it: WM_COMMAND/BN_CLICKED with
// the button's handle, sent to the dialog. Refused (false, with why) when the
// button is hidden or disabled, since a user could not press it then.
bool ClickButton(HWND dialog, int id, std::wstring& why);
// Same message for a control the user cannot see (hidden buttons/boxes).
bool ClickHidden(HWND dialog, int id);
// An auto check box clicked: its state set, then its BN_CLICKED.
bool SetCheck(HWND dialog, int id, bool checked, std::wstring& why);

std::vector<std::wstring> ComboEntries(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
// Selects an entry and reports CBN_SELCHANGE as the combo would.
bool SelectComboEntry(HWND dialog, int id, int index);
// Reports CBN_SETFOCUS for a combo, as when it gains the focus.
bool ReportComboFocus(HWND dialog, int id);

// Keys through the modal loop: posted WM_KEYDOWN to a control of the dialog,
// which the dialog manager (IsDialogMessage) turns into IDOK / IDCANCEL.
bool PostKey(HWND dialog, int focusControlId, UINT virtualKey);
// The same key posted to a window (the one that has the focus, say), down and up.
bool PostKeyTo(HWND target, UINT virtualKey);
// The control of the dialog that has the keyboard focus (the combo box when
// the focus is in its edit field), nullptr when none has it.
HWND FocusedControl(HWND dialog);
// The name an assistive client reads for a control: MSAA's accName of its
// client area. False, with why, when no accessible object or name comes
// back. The calling thread must have initialised COM.
bool AccessibleName(HWND control, std::wstring& name, std::wstring& why);
// Posts a marker character to an edit and waits until it shows: every
// message posted before it has then been handled.
bool FlushPostedMessages(HWND dialog, int editId, DWORD timeoutMs);

// Round trip time of one WM_NULL, or a negative value on time-out.
double PingMs(HWND dialog, UINT timeoutMs);
