// Process entry: installs the dialog access and runs the main dialog.
#include "device_coordination.h"
#include "main_dialog.h"
#include "resource.h"
#include "win32_dialog_access.h"

#include <windows.h>

#include <commctrl.h>

namespace {
// Static, not on the heap: the worker threads may still use it while the
// process ends.
Win32DialogAccess g_dialogAccess;

// The icon at the size the system uses for one of its metrics (this is
// where DPI awareness picks the 24- or 32-pixel image over a blurred 16).
HICON LoadAppIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The manifest asks for Common Controls 6; its classes must be
    // registered before the dialog creates the themed controls.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    SetDialogAccess(&g_dialogAccess);
    KeepAppIcons(LoadAppIcon(instance, SM_CXICON, SM_CYICON),
                 LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON));
    // This thread runs the dialog for the whole process: a device event the
    // library delivers on it, through a window of its own, must not make it
    // call into the library.
    const OnDialogThread dialogThread;
    // A Unicode dialog: the template's texts and everything the tool sets
    // reach the controls as UTF-16, whatever the system's ANSI code page.
    return static_cast<int>(
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0));
}
