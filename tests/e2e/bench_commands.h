// Measurements on the real exe under Wine, printed as Markdown table rows.
#pragma once

#include <string>

// runs: start-ups of each program. Returns 0 when every measurement ran.
int RunBenchmarks(const std::wstring& stage, int runs);
