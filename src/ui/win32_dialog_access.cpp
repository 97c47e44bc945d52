#include "win32_dialog_access.h"

#include "main_dialog.h"
#include "screen_text.h"

namespace {
// The number edits hold at most 9 characters; the buffer leaves room for
// text set by other means without changing what a short number reads.
constexpr size_t kNumberTextSize = 512;

// EM_SETSEL clamps these to the end of the text.
constexpr WPARAM kSelectionEnd = static_cast<WPARAM>(-2);

HWND Window() { return MainDialog.load(); }
} // namespace

// Every text goes through the wide functions, converted from CP936 here, so
// the dialog reads right whatever the system's ANSI code page is.

bool Win32DialogAccess::IsChecked(int id) {
    return IsDlgButtonChecked(Window(), id) == BST_CHECKED;
}

// Parsed here rather than by GetDlgItemInt, whose reading differs between
// platforms (signs, overflow).
uint32_t Win32DialogAccess::ReadUnsigned(int id) {
    char text[kNumberTextSize];
    ReadControlTextCp936(Window(), id, text, sizeof(text));
    return ParseUnsignedText(text);
}

int Win32DialogAccess::GetSelection(int id) {
    LRESULT selection = SendDlgItemMessageW(Window(), id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void Win32DialogAccess::SetText(int id, const char* text) {
    SetDlgItemTextW(Window(), id, ScreenText(text).get());
}

// On the dialog's thread, which can see and move the focus.
void Win32DialogAccess::Enable(int id, bool enabled) {
    SendMessageW(Window(), kEnableControlMessage, static_cast<WPARAM>(id), enabled ? 1 : 0);
}

void Win32DialogAccess::ClearList(int id) {
    SendDlgItemMessageW(Window(), id, CB_RESETCONTENT, 0, 0);
}

void Win32DialogAccess::AddEntry(int id, const char* text) {
    SendDlgItemMessageW(Window(), id, CB_ADDSTRING, 0, ScreenText(text).param());
}

void Win32DialogAccess::SelectEntry(int id, int index) {
    SendDlgItemMessageW(Window(), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32DialogAccess::AppendText(int id, const char* text) {
    HWND window = Window();
    ScreenText line(text);
    SendDlgItemMessageW(window, id, EM_SETSEL, kSelectionEnd, static_cast<LPARAM>(kSelectionEnd));
    SendDlgItemMessageW(window, id, EM_REPLACESEL, FALSE, line.param());
    SendDlgItemMessageW(window, id, EM_SETSEL, kSelectionEnd, static_cast<LPARAM>(kSelectionEnd));
}

void Win32DialogAccess::PostClick(int id) {
    HWND window = Window();
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}
