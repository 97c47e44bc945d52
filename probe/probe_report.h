// The probe's report. In the parent each line is printed when it is added,
// kept, and written to the report file at once, so the file holds the run
// so far whatever ends it; the file's first lines, the result, are written
// last. In the child a line goes into the shared record, and the parent
// takes it up from there. Every line is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

// gnu_printf (the C99 formats of MinGW's ANSI stdio) is GCC's; clang checks
// the same formats as printf.
#if defined(__MINGW32__) && !defined(__clang__)
#define PROBE_PRINTF(a, b) __attribute__((format(gnu_printf, a, b)))
#else
#define PROBE_PRINTF(a, b) __attribute__((format(printf, a, b)))
#endif

// Adds one line; a line longer than the buffer is cut, a full report keeps
// its start and says so once.
void Report(const char* format, ...) PROBE_PRINTF(1, 2);
void ReportBlank();

// In the child: lines go to the parent.
void ReportToParent();

// In the parent: creates the report file, replacing an earlier run's, with
// a first line that says the run is not over. Returns the system's error
// (0 when created).
uint32_t OpenReportFile(const wchar_t* path);
// Prints and keeps the child's lines that came since the last look.
void TakeChildLines();
// Rewrites the report file with the lines of head first, then every line
// so far; false when the file cannot be written.
bool FinishReportFile(const char* head);

// UTF-8 forms of other texts, cut to the buffer. Control characters become
// '?', so a library's bytes cannot break a report line.
void Utf8FromWide(char* buffer, size_t size, const wchar_t* text);
// Bytes in code page 936, as the tool shows its texts (at most length
// bytes, up to a zero).
void Utf8FromCp936(char* buffer, size_t size, const char* text, size_t length);
// "00 1F A5" for bytes.
void HexBytes(char* buffer, size_t size, const uint8_t* bytes, size_t count);
