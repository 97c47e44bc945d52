// The tool's one log: each line goes to the debugger output and to the end of
// the log box.
#pragma once

#include <cstddef>

// gnu_printf (the C99 formats of MinGW's ANSI stdio) is GCC's; clang 14 does
// not know it and checks the same formats as printf.
#if defined(__MINGW32__) && !defined(__clang__)
#define LOG_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#else
#define LOG_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif

constexpr size_t kLogFormatBufferSize = 10240;
constexpr size_t kLogBoxBufferSize = 512;

// Formats one message, adds "\r\n" and writes it to both places. A message
// too long for the buffer is cut, never overrun.
void LogPrintf(const char* format, ...) LOG_PRINTF_FORMAT;

// Appends a finished text to the log box, cut to 510 bytes and "\n" when it
// would not fit the box buffer.
void AppendLogText(const char* text);
