// The tool's one window: the modal main dialog and its procedure.
#pragma once

#include <windows.h>

#include <atomic>

// Handle of the main dialog, for every thread; set at the start of every call
// of the dialog procedure, so it is valid from the first message on.
extern std::atomic<HWND> MainDialog;

// The icons the dialog shows, big and small, at the sizes the system asks
// for; loaded once by WinMain.
void KeepAppIcons(HICON bigIcon, HICON smallIcon);

// Enables (lParam nonzero) or disables the control whose id is wParam, on the
// dialog's thread, which owns the keyboard focus.
constexpr UINT kEnableControlMessage = WM_APP + 1;

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
