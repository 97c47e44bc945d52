// A picture of the whole screen, for a failed check.
#pragma once

#include <string>

// Writes a 24-bit BMP of the screen; false when it could not.
bool SaveScreenshot(const std::wstring& path);
