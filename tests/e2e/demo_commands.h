// The commands the run script uses: show the tool configuring a simulated
// programmer and leave it running, then close it.
#pragma once

#include <string>

// Exit codes: 0 success, 1 failure (what went wrong is printed).
int RunDemo(const std::wstring& stage);
int CloseRunningTool();
