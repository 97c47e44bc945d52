#include "dialog_remote.h"

#include "text_util.h"

#include <oleacc.h>

bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR answer = 0;
    LRESULT ok =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &answer);
    if (result != nullptr)
        *result = LRESULT(answer);
    return ok != 0;
}

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::wstring ReadText(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    if (control == nullptr)
        return L"<no control>";
    return ReadWindowText(control);
}

std::wstring ReadWindowText(HWND control) {
    LRESULT length = 0;
    if (!SendBounded(control, WM_GETTEXTLENGTH, 0, 0, &length))
        return L"<no answer>";
    std::wstring text(size_t(length) + 1, L'\0');
    LRESULT got = 0;
    SendBounded(control, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()), &got);
    text.resize(size_t(got));
    return text;
}

bool SetText(HWND dialog, int id, const std::wstring& text) {
    HWND control = Control(dialog, id);
    return control != nullptr && SendBounded(control, WM_SETTEXT, 0, LPARAM(text.c_str()), nullptr);
}

bool TypeText(HWND dialog, int id, const std::wstring& text) {
    HWND control = Control(dialog, id);
    if (control == nullptr || !SendBounded(control, EM_SETSEL, 0, -1, nullptr))
        return false;
    for (wchar_t c : text)
        if (!SendBounded(control, WM_CHAR, WPARAM(c), 1, nullptr))
            return false;
    return true;
}

bool IsEnabled(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    return control != nullptr && IsWindowEnabled(control);
}

bool IsVisible(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    return control != nullptr && IsWindowVisible(control);
}

bool IsChecked(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    LRESULT state = 0;
    return control != nullptr && SendBounded(control, BM_GETCHECK, 0, 0, &state) &&
           state == BST_CHECKED;
}

namespace {
bool SendCommand(HWND dialog, int id, int notification) {
    HWND control = Control(dialog, id);
    return SendBounded(dialog, WM_COMMAND, MAKEWPARAM(id, notification), LPARAM(control), nullptr);
}

bool UserCanOperate(HWND dialog, int id, std::wstring& why) {
    HWND control = Control(dialog, id);
    if (control == nullptr) {
        why = Format(L"control %d does not exist", id);
        return false;
    }
    if (!IsWindowVisible(control)) {
        why = Format(L"control %d is hidden", id);
        return false;
    }
    if (!IsWindowEnabled(control)) {
        why = Format(L"control %d is disabled", id);
        return false;
    }
    return true;
}
} // namespace

bool ClickButton(HWND dialog, int id, std::wstring& why) {
    if (!UserCanOperate(dialog, id, why))
        return false;
    if (!SendCommand(dialog, id, BN_CLICKED)) {
        why = Format(L"the dialog did not handle the click of %d within %u ms", id, kSendTimeoutMs);
        return false;
    }
    return true;
}

bool ClickHidden(HWND dialog, int id) { return SendCommand(dialog, id, BN_CLICKED); }

bool SetCheck(HWND dialog, int id, bool checked, std::wstring& why) {
    if (!UserCanOperate(dialog, id, why))
        return false;
    HWND control = Control(dialog, id);
    if (!SendBounded(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, nullptr) ||
        !SendCommand(dialog, id, BN_CLICKED)) {
        why = Format(L"the dialog did not answer for check box %d", id);
        return false;
    }
    return true;
}

std::vector<std::wstring> ComboEntries(HWND dialog, int id) {
    std::vector<std::wstring> entries;
    HWND combo = Control(dialog, id);
    LRESULT count = 0;
    if (combo == nullptr || !SendBounded(combo, CB_GETCOUNT, 0, 0, &count) || count < 0)
        return entries;
    // The tool may refill the list between two messages, so an entry can
    // grow after its length was asked: read into a buffer that holds any
    // label the tool can make (its label buffer is 512 bytes) instead.
    constexpr LRESULT kEntryChars = 1024;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!SendBounded(combo, CB_GETLBTEXTLEN, WPARAM(i), 0, &length) || length < 0 ||
            length >= kEntryChars)
            break;
        std::wstring text(size_t(kEntryChars), L'\0');
        LRESULT got = 0;
        SendBounded(combo, CB_GETLBTEXT, WPARAM(i), LPARAM(text.data()), &got);
        text.resize(got > 0 && got < kEntryChars ? size_t(got) : 0);
        entries.push_back(text);
    }
    return entries;
}

int ComboSelection(HWND dialog, int id) {
    LRESULT selection = CB_ERR;
    HWND combo = Control(dialog, id);
    if (combo == nullptr || !SendBounded(combo, CB_GETCURSEL, 0, 0, &selection))
        return -2;
    return int(selection);
}

bool SelectComboEntry(HWND dialog, int id, int index) {
    HWND combo = Control(dialog, id);
    LRESULT result = 0;
    if (combo == nullptr || !SendBounded(combo, CB_SETCURSEL, WPARAM(index), 0, &result) ||
        result != index)
        return false;
    return SendCommand(dialog, id, CBN_SELCHANGE);
}

bool ReportComboFocus(HWND dialog, int id) { return SendCommand(dialog, id, CBN_SETFOCUS); }

bool PostKey(HWND dialog, int focusControlId, UINT virtualKey) {
    return PostKeyTo(Control(dialog, focusControlId), virtualKey);
}

bool PostKeyTo(HWND target, UINT virtualKey) {
    if (target == nullptr)
        return false;
    UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM down = LPARAM(1 | (scan << 16));
    LPARAM up = LPARAM(1 | (scan << 16) | (1u << 30) | (1u << 31));
    return PostMessageW(target, WM_KEYDOWN, virtualKey, down) &&
           PostMessageW(target, WM_KEYUP, virtualKey, up);
}

HWND FocusedControl(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
        return nullptr;
    HWND window = info.hwndFocus;
    while (window != nullptr && GetParent(window) != dialog)
        window = GetParent(window);
    return window;
}

bool AccessibleName(HWND control, std::wstring& name, std::wstring& why) {
    IAccessible* object = nullptr;
    HRESULT hr = AccessibleObjectFromWindow(control, DWORD(OBJID_CLIENT), IID_IAccessible,
                                            reinterpret_cast<void**>(&object));
    if (FAILED(hr) || object == nullptr) {
        why =
            Format(L"AccessibleObjectFromWindow failed (0x%08lx)", static_cast<unsigned long>(hr));
        return false;
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    hr = object->get_accName(self, &text);
    object->Release();
    if (hr != S_OK || text == nullptr) {
        why = Format(L"get_accName gave no name (0x%08lx)", static_cast<unsigned long>(hr));
        return false;
    }
    name.assign(text, SysStringLen(text));
    SysFreeString(text);
    return true;
}

bool FlushPostedMessages(HWND dialog, int editId, DWORD timeoutMs) {
    HWND edit = Control(dialog, editId);
    if (edit == nullptr)
        return false;
    std::wstring before = ReadText(dialog, editId);
    SendBounded(edit, EM_SETSEL, WPARAM(-2), LPARAM(-2), nullptr);
    if (!PostMessageW(edit, WM_CHAR, L'7', 1))
        return false;
    double deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        if (ReadText(dialog, editId).size() > before.size())
            return true;
        Sleep(10);
    }
    return false;
}

double PingMs(HWND dialog, UINT timeoutMs) {
    double start = NowMs();
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &answer))
        return -1.0;
    return NowMs() - start;
}
