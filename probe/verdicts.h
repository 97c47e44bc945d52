// The verdicts: one line per assumption the tool makes about the library,
// "holds", "differs: ..." or "not seen in this run", each "differs" followed
// by what the tool does then.
#pragma once

#include <cstddef>

// Reports the verdicts on what the run measured; returns how many differ.
size_t ReportVerdicts();
