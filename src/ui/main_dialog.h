// The tool's one window: the modal main dialog and its procedure.
#pragma once

#include <windows.h>

#include <atomic>

// Handle of the main dialog, for every thread; set at the start of every call
// of the dialog procedure, so it is valid from the first message on.
extern std::atomic<HWND> MainDialog;

// The icon the dialog shows as its big icon; loaded once by WinMain.
void KeepAppIcon(HICON icon);

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
