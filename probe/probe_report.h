// The probe's report: each line is printed when it is added and kept for the
// report file, which is UTF-8 like every line.
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

// Writes the report so far, with a byte order mark so that older Notepads
// read it as UTF-8. False when the file cannot be written.
bool WriteReportFile(const wchar_t* path);

// UTF-8 forms of other texts, cut to the buffer. Control characters become
// '?', so a library's bytes cannot break a report line.
void Utf8FromWide(char* buffer, size_t size, const wchar_t* text);
// Bytes in code page 936, as the tool shows its texts (at most length
// bytes, up to a zero).
void Utf8FromCp936(char* buffer, size_t size, const char* text, size_t length);
// "00 1F A5" for bytes.
void HexBytes(char* buffer, size_t size, const uint8_t* bytes, size_t count);
