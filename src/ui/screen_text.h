// The tool's texts are CP936 bytes; the screen takes UTF-16. Converting here,
// with the code page named, keeps what the user reads independent of the
// system's ANSI code page.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

// Longest text shown at once, in UTF-16 units: the log box takes at most 511
// bytes per line, and no CP936 byte turns into more than one unit.
constexpr size_t kScreenTextChars = 1024;

// A CP936 text as UTF-16, in a fixed buffer. A longer text is cut at a
// character boundary. A lead byte without its trail byte shows as '?', so
// the character after it (a line end, say) is never swallowed.
class ScreenText {
public:
    explicit ScreenText(const char* cp936);
    ScreenText(const ScreenText&) = delete;
    ScreenText& operator=(const ScreenText&) = delete;

    const wchar_t* get() const { return wide_.data(); }
    LPARAM param() const { return reinterpret_cast<LPARAM>(wide_.data()); }

private:
    std::array<wchar_t, kScreenTextChars> wide_;
};

// A control's text read as UTF-16 and handed back as CP936 bytes, so the
// core parses what it would have read through the narrow functions on a
// CP936 system. Reads at most (outSize - 1) / 2 characters, so a short
// buffer cuts the text instead of losing it. Always terminated.
void ReadControlTextCp936(HWND dialog, int id, char* out, size_t outSize);
