// What the system reports for the running tool, the facts a Wine run cannot
// prove for Windows: its DPI awareness, the Common Controls copy it loaded,
// the ANSI code page and the dialog's font.
#pragma once

#include <string>

// Starts the tool from the stage folder against the stand-in library, prints
// the facts and checks the ones the manifest promises. 0 when they hold.
int RunFacts(const std::wstring& stage);
