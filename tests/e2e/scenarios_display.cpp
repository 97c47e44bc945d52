// What the user reads and sees: every text of the dialog as UTF-16 whatever
// the system code page, the dialog's size at the display's DPI, no clipped
// caption, and a picture of the window.
#include "scenarios.h"

#include "dialog_remote.h"
#include "resource.h"
#include "screenshot.h"
#include "text_util.h"

#include <cstdlib>
#include <cwchar>

namespace {
// The template's size in dialog units, and its font made as the dialog
// manager makes it at a given DPI.
constexpr int kDialogUnitsWide = 298;
constexpr int kDialogUnitsHigh = 201;

struct FontMeasure {
    HDC dc = nullptr;
    HFONT font = nullptr;
    HGDIOBJ old = nullptr;

    explicit FontMeasure(int dpi) {
        dc = CreateCompatibleDC(nullptr);
        font = CreateFontW(-MulDiv(kDialogFontPoints, dpi, 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, FF_DONTCARE, kDialogFontFace);
        old = SelectObject(dc, font);
    }
    ~FontMeasure() {
        SelectObject(dc, old);
        DeleteObject(font);
        DeleteDC(dc);
    }
    FontMeasure(const FontMeasure&) = delete;
    FontMeasure& operator=(const FontMeasure&) = delete;

    SIZE Extent(const std::wstring& text) const {
        RECT box{0, 0, 0, 0};
        DrawTextW(dc, text.c_str(), int(text.size()), &box, DT_CALCRECT | DT_SINGLELINE);
        return SIZE{box.right - box.left, box.bottom - box.top};
    }
    // The dialog's client size for its template, from the font's dialog
    // base units (average letter width, character height).
    SIZE DialogSize() const {
        const wchar_t* letters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        SIZE extent{};
        GetTextExtentPoint32W(dc, letters, 52, &extent);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        int baseX = (extent.cx / 26 + 1) / 2;
        return SIZE{MulDiv(kDialogUnitsWide, baseX, 4),
                    MulDiv(kDialogUnitsHigh, int(metrics.tmHeight), 8)};
    }
};

// The DPI the pass runs at, set by the e2e script on the prefix; else the
// system's (the developer kit on Windows), as this DPI-aware driver sees it.
int ExpectedDpi() {
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"E2E_EXPECT_DPI", value, 16) != 0)
        return _wtoi(value);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

std::vector<HWND> ChildrenInTemplateOrder(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    std::wstring text = name;
    size_t bang = text.find(L'!'); // versioned class names of Common Controls 6
    return bang == std::wstring::npos ? text : text.substr(bang + 1);
}

// Each control in template order with the text it shows once the demo's
// options are set and a configuration has succeeded.
struct Shown {
    int id;
    const wchar_t* text; // nullptr: the log box, checked line by line
};
const Shown kShownAfterConfiguration[] = {
    {IDC_STATIC, L"设备选择"},
    {IDC_STATIC, L"设备列表:"},
    {IDC_DEVICE_LIST, L"1#ISP DEV:3A-01-7F-00-12-C4"},
    {IDC_STATIC, L"设备信息"},
    {IDC_DEVICE_INFO, L"UID:3A-01-7F-00-12-C4,BTVER:0210"},
    {IDC_STATIC, L"配置选项"},
    {IDC_STATIC, L"下载端口选择:"},
    {IDC_PORT_SELECT, L"PORT0～3"},
    {IDC_STATIC, L"下载完成后等待时间(ms):"},
    {IDC_WAIT_TIME, L"500"},
    {IDC_KEEP_POWER, L"下载完成后端口不断电"},
    {IDC_MACHINE_SIGNAL, L"开启机器控制信号"},
    {IDC_LIMIT_COUNT, L"限制下载次数"},
    {IDC_STATIC, L"限制下载次数"},
    {IDC_COUNT_LIMIT, L"1000"},
    {IDC_FIND_DEVICES, L"查找设备"},
    {IDC_CONFIGURE, L"配置"},
    {IDC_STATIC, L"记录"},
    {IDC_LOG, nullptr},
    {IDC_CLEAR_LOG, L"清空记录"},
    {IDC_SERIAL_NOKEY, L"串口免按键下载功能"},
    {IDC_PLUG_NOTIFY, L"设备插拔通知"},
    {IDC_SET_ISP_OPTION, L"设置ISP选项"},
    {IDC_AUTO_DOWNLOAD, L"设备插入后自动下载"},
    {IDC_STATIC, L"下载计数:"},
    {IDC_DOWNLOAD_COUNT, L">>>>配置成功!"},
};

void CheckEveryText(ScenarioContext& c, ToolSession& s) {
    HWND d = s.Dialog();
    c.CheckEqual(L"dialog caption", std::wstring(L"脱机编程器配置工具 V") + E2E_APP_VERSION,
                 ReadWindowText(d));
    std::vector<HWND> children = ChildrenInTemplateOrder(d);
    size_t count = sizeof(kShownAfterConfiguration) / sizeof(kShownAfterConfiguration[0]);
    if (!c.CheckEqual(L"number of controls", static_cast<long long>(count),
                      static_cast<long long>(children.size())))
        return;
    for (size_t i = 0; i < count; ++i) {
        const Shown& shown = kShownAfterConfiguration[i];
        int id = GetDlgCtrlID(children[i]);
        if (!c.CheckEqual(Format(L"id of control %zu", i), shown.id, id) || shown.text == nullptr)
            continue;
        c.CheckEqual(Format(L"text of control %zu (id %d)", i, id), shown.text,
                     ReadWindowText(children[i]));
    }
    std::wstring label = L"<1#ISP DEV:3A-01-7F-00-12-C4> ";
    c.CheckLines(L"log box",
                 {L"Set isp option succ", label + L"begin config...", label + L"config succ"},
                 s.LogLines());
}

// Room a caption needs beyond its text, at 96 DPI: a check box's box and the
// gap after it, a push button's edge and focus frame, a group box's inset.
int Overhead(HWND control, int dpi) {
    std::wstring cls = ClassOf(control);
    if (_wcsicmp(cls.c_str(), L"Button") != 0)
        return 0;
    LONG style = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    int pixels = style == BS_AUTOCHECKBOX || style == BS_CHECKBOX ? 13 + 3
                 : style == BS_GROUPBOX                           ? 2 * 8
                                                                  : 2 * 3;
    return MulDiv(pixels, dpi, 96);
}

void CheckNothingClipped(ScenarioContext& c, HWND d, const FontMeasure& font, int dpi) {
    for (HWND control : ChildrenInTemplateOrder(d)) {
        std::wstring cls = ClassOf(control);
        bool caption =
            _wcsicmp(cls.c_str(), L"Static") == 0 || _wcsicmp(cls.c_str(), L"Button") == 0;
        if (!caption || !IsWindowVisible(control))
            continue;
        std::wstring text = ReadWindowText(control);
        RECT client{};
        GetClientRect(control, &client);
        SIZE need = font.Extent(text);
        int room = client.right - Overhead(control, dpi);
        c.Check(need.cx <= room && need.cy <= client.bottom,
                Format(L"caption \"%ls\" fits its control at %d DPI", text.c_str(), dpi),
                Format(L"at most %d x %ld pixels", room, client.bottom),
                Format(L"%ld x %ld pixels", need.cx, need.cy));
    }
}

void CheckDialogScale(ScenarioContext& c, HWND d, const FontMeasure& font, int dpi) {
    RECT client{};
    GetClientRect(d, &client);
    SIZE expected = font.DialogSize();
    c.Check(std::abs(client.right - expected.cx) <= 1 && std::abs(client.bottom - expected.cy) <= 1,
            Format(L"dialog client size from its font at %d DPI", dpi),
            Format(L"%ld x %ld", expected.cx, expected.cy),
            Format(L"%ld x %ld", client.right, client.bottom));
    // Against the same dialog at 96 DPI: larger in proportion to the DPI.
    SIZE at96 = FontMeasure(96).DialogSize();
    double ratio = double(client.right) / double(at96.cx);
    double wanted = double(dpi) / 96.0;
    c.Check(ratio > wanted * 0.9 && ratio < wanted * 1.1,
            Format(L"dialog width against %ld pixels at 96 DPI", at96.cx),
            Format(L"about %.2f times", wanted), Format(L"%.2f times", ratio));
}

// The demo's configuration, then every text, the size, the fit and a
// picture (display.bmp, made into a PNG artifact by the e2e script).
void TextsSizeAndFit(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.StartWithTwoDevices("flash-ms 50\n"))
        return;
    HWND d = s.Dialog();
    if (!SetText(d, IDC_WAIT_TIME, L"500") || !s.Check(IDC_LIMIT_COUNT, true) ||
        !SetText(d, IDC_COUNT_LIMIT, L"1000") || !SelectComboEntry(d, IDC_PORT_SELECT, 3) ||
        !s.Check(IDC_KEEP_POWER, true) || !s.Click(IDC_CONFIGURE) ||
        !s.WaitForLogLine(L"<1#ISP DEV:3A-01-7F-00-12-C4> config succ", kRunTimeoutMs) ||
        !s.WaitForButtons(true, 3000))
        return;
    CheckEveryText(c, s);

    int dpi = int(GetDpiForWindow(d));
    c.CheckEqual(L"DPI of the dialog (E2E_EXPECT_DPI, else the system's)", ExpectedDpi(), dpi);
    FontMeasure font(dpi);
    CheckDialogScale(c, d, font, dpi);
    CheckNothingClipped(c, d, font, dpi);

    std::wstring shot = JoinPath(c.RunFolder(), L"display.bmp");
    c.Check(SaveWindowShot(d, shot), L"picture of the dialog", shot, L"not written");
}

// Texts the library supplies reach the list as characters, not bytes: a
// GBK device name, and a name with a lead byte cut from its trail byte,
// which must cost that byte alone and not the character after it.
void LibraryTexts(ScenarioContext& c) {
    ToolSession s(c);
    if (!s.Start("device 1 uid=3A017F0012C4 boot=0210 name=\xB1\xE0\xB3\xCC\xC6\xF7\xBC\xD7\n"
                 "device 2 uid=5C22910047E1 boot=0211 name=PRO\xB0-B\n"
                 "mode 1\n"))
        return;
    c.CheckLines(L"device list with library names", {L"1#ISP DEV:编程器甲", L"2#ISP DEV:PRO?-B"},
                 ComboEntries(s.Dialog(), IDC_DEVICE_LIST));
}
} // namespace

const Scenario* DisplayScenarios(size_t* count) {
    static const Scenario scenarios[] = {
        {L"display-texts-size-and-fit", TextsSizeAndFit},
        {L"display-library-texts", LibraryTexts},
    };
    *count = sizeof(scenarios) / sizeof(scenarios[0]);
    return scenarios;
}
