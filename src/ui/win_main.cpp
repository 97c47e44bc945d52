// Process entry: installs the dialog access and runs the main dialog.
#include "main_dialog.h"
#include "resource.h"
#include "win32_dialog_access.h"

#include <windows.h>

namespace {
// Static, not on the heap: the worker threads may still use it while the
// process ends.
Win32DialogAccess g_dialogAccess;
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    SetDialogAccess(&g_dialogAccess);
    KeepAppIcon(LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP)));
    return static_cast<int>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0));
}
