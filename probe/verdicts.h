// The verdicts: one line per assumption the tool makes about the library,
// "holds", "not seen in this run", or, where it differs, one of two kinds:
// "breaks the tool" (a crash, a hang, a tool that does not start, its
// memory overwritten) or "the tool copes" (a note saying what the tool does
// then).
#pragma once

#include <cstddef>

// Reports the verdicts on what the run measured.
void ReportVerdicts();

// The lines that open the report: the result in words and the exit status,
// then each verdict that breaks the tool or notes what it copes with.
// Returns the exit status.
int ResultLines(char* buffer, size_t size);
