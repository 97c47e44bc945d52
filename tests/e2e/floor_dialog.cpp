// The floor for start-up figures: a modal dialog that does nothing, built
// and started the way the tool is.
#include <windows.h>

#include "floor_dialog_ids.h"

#if defined(FLOOR_IMPORTS_ISP_LIBRARY)
#include "isp_api.h"

// Imported, never called: the start-up then includes loading the library,
// as the tool's does.
extern "C" {
volatile auto g_keepImport = &Tamla_EnumDevices;
}
#endif

namespace {
INT_PTR CALLBACK FloorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(window);
        return TRUE;
    }
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return FALSE;
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return int(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FLOOR), nullptr, FloorDialogProc, 0));
}
