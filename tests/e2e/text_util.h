// Console output and text helpers of the driver. Output is UTF-16 to a
// console and UTF-8 elsewhere, so the tool's Chinese texts read the same
// whatever the console's code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// printf-style, wide format, written to standard output.
void Out(const wchar_t* format, ...);
void OutText(const std::wstring& text);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::wstring Format(const wchar_t* format, ...);

// Splits on "\r\n" or "\n"; a trailing line end gives no empty last line.
std::vector<std::wstring> SplitLines(const std::wstring& text);
std::wstring JoinLines(const std::vector<std::wstring>& lines);

bool StartsWith(const std::wstring& text, const std::wstring& prefix);
bool EndsWith(const std::wstring& text, const std::wstring& suffix);
bool Contains(const std::wstring& text, const std::wstring& part);

// Milliseconds from a fixed start, high resolution.
double NowMs();
