// Pictures of the screen: all of it for a failed check, one window for the
// look of the tool.
#pragma once

#include <windows.h>

#include <string>

// Writes a 24-bit BMP of the screen; false when it could not.
bool SaveScreenshot(const std::wstring& path);
// The same for the part of the screen a window covers, frame included.
bool SaveWindowShot(HWND window, const std::wstring& path);
