#include "win32_dialog_access.h"

#include "main_dialog.h"

namespace {
// The number edits hold at most 9 characters; the buffer leaves room for
// text set by other means without changing what a short number reads.
constexpr int kNumberTextSize = 256;

// EM_SETSEL clamps these to the end of the text.
constexpr WPARAM kSelectionEnd = static_cast<WPARAM>(-2);

HWND Window() { return MainDialog.load(); }
} // namespace

bool Win32DialogAccess::IsChecked(int id) {
    return IsDlgButtonChecked(Window(), id) == BST_CHECKED;
}

// Parsed here rather than by GetDlgItemInt, whose reading differs between
// platforms (signs, overflow).
uint32_t Win32DialogAccess::ReadUnsigned(int id) {
    char text[kNumberTextSize] = {};
    GetDlgItemTextA(Window(), id, text, kNumberTextSize);
    return ParseUnsignedText(text);
}

int Win32DialogAccess::GetSelection(int id) {
    LRESULT selection = SendDlgItemMessageA(Window(), id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void Win32DialogAccess::SetText(int id, const char* text) { SetDlgItemTextA(Window(), id, text); }

void Win32DialogAccess::Enable(int id, bool enabled) {
    EnableWindow(GetDlgItem(Window(), id), enabled ? TRUE : FALSE);
}

void Win32DialogAccess::ClearList(int id) {
    SendDlgItemMessageA(Window(), id, CB_RESETCONTENT, 0, 0);
}

void Win32DialogAccess::AddEntry(int id, const char* text) {
    SendDlgItemMessageA(Window(), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void Win32DialogAccess::SelectEntry(int id, int index) {
    SendDlgItemMessageA(Window(), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32DialogAccess::AppendText(int id, const char* text) {
    HWND window = Window();
    SendDlgItemMessageA(window, id, EM_SETSEL, kSelectionEnd, static_cast<LPARAM>(kSelectionEnd));
    SendDlgItemMessageA(window, id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(window, id, EM_SETSEL, kSelectionEnd, static_cast<LPARAM>(kSelectionEnd));
}

void Win32DialogAccess::PostClick(int id) {
    HWND window = Window();
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}
