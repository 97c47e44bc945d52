#include "probe_report.h"

#include "probe_run.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kReportSize = 1024 * 1024;
constexpr size_t kLineSize = 2048;
constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kFull[] = "(the report is full: later lines were only printed)\r\n";

char g_report[kReportSize];
size_t g_used = 0;
bool g_full = false;
HANDLE g_file = INVALID_HANDLE_VALUE;
bool g_toParent = false;
uint32_t g_taken = 0; // bytes of the child's lines taken up
// Lines come from several threads of the child; in the parent, from its
// main thread only.
SRWLOCK g_lock = SRWLOCK_INIT;

// A console gets UTF-16, so the text reads right whatever its code page; a
// file or a pipe gets the UTF-8 bytes.
void Print(const char* text, size_t length) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        wchar_t wide[kLineSize];
        const int n = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide,
                                          static_cast<int>(kLineSize));
        WriteConsoleW(out, wide, static_cast<DWORD>(n), &written, nullptr);
    } else {
        WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr);
    }
}

void Keep(const char* text, size_t length) {
    if (g_full)
        return;
    const char* kept = text;
    if (g_used + length + sizeof kFull > kReportSize) {
        kept = kFull;
        length = sizeof kFull - 1;
        g_full = true;
    }
    std::memcpy(g_report + g_used, kept, length);
    g_used += length;
    DWORD written = 0;
    if (g_file != INVALID_HANDLE_VALUE)
        WriteFile(g_file, kept, static_cast<DWORD>(length), &written, nullptr);
}

void Emit(const char* line, size_t length) {
    AcquireSRWLockExclusive(&g_lock);
    Keep(line, length);
    Print(line, length);
    ReleaseSRWLockExclusive(&g_lock);
}

void SendToParent(const char* line, size_t length) {
    ProbeRun& run = Run();
    AcquireSRWLockExclusive(&g_lock);
    const uint32_t used = run.textUsed.load();
    if (!run.textFull.load()) {
        if (used + length + sizeof kFull > kChildTextSize) {
            line = kFull;
            length = sizeof kFull - 1;
            run.textFull = true;
        }
        std::memcpy(run.text + used, line, length);
        run.textUsed.store(used + static_cast<uint32_t>(length), std::memory_order_release);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

// A line cut inside a UTF-8 sequence would end in a broken character: the
// length of the longest start of text that ends with a whole one.
size_t WholeCharacters(const char* text, size_t length) {
    if (length == 0)
        return 0;
    size_t lead = length - 1;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        --lead;
    const unsigned char byte = static_cast<unsigned char>(text[lead]);
    const size_t need = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return lead + need <= length ? length : lead;
}

bool WriteAll(HANDLE file, const char* bytes, size_t length) {
    DWORD written = 0;
    return WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) &&
           written == length;
}
} // namespace

void Report(const char* format, ...) {
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    size_t length = n < 0 ? 0 : static_cast<size_t>(n);
    if (length > sizeof line - 3)
        length = WholeCharacters(line, sizeof line - 3);
    line[length++] = '\r';
    line[length++] = '\n';
    if (g_toParent)
        SendToParent(line, length);
    else
        Emit(line, length);
}

void ReportBlank() { Report("%s", ""); }

void ReportToParent() { g_toParent = true; }

uint32_t OpenReportFile(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    static const char kNotOver[] = "Result: not known yet: the probe is still running, or it was "
                                   "stopped before it could finish this report\r\n\r\n";
    if (!WriteAll(file, kBom, 3) || !WriteAll(file, kNotOver, sizeof kNotOver - 1)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return error;
    }
    g_file = file;
    return 0;
}

void TakeChildLines() {
    const ProbeRun& run = Run();
    const uint32_t used = run.textUsed.load(std::memory_order_acquire);
    while (g_taken < used) {
        const char* start = run.text + g_taken;
        size_t length = used - g_taken;
        const void* end = std::memchr(start, '\n', length);
        if (end != nullptr)
            length = static_cast<size_t>(static_cast<const char*>(end) - start) + 1;
        Emit(start, length);
        g_taken += static_cast<uint32_t>(length);
    }
}

bool FinishReportFile(const char* head) {
    if (g_file == INVALID_HANDLE_VALUE)
        return false;
    AcquireSRWLockExclusive(&g_lock);
    LARGE_INTEGER zero{};
    bool ok = SetFilePointerEx(g_file, zero, nullptr, FILE_BEGIN) && WriteAll(g_file, kBom, 3) &&
              WriteAll(g_file, head, std::strlen(head)) && WriteAll(g_file, g_report, g_used) &&
              SetEndOfFile(g_file);
    ReleaseSRWLockExclusive(&g_lock);
    ok = CloseHandle(g_file) && ok;
    g_file = INVALID_HANDLE_VALUE;
    return ok;
}

void Utf8FromWide(char* buffer, size_t size, const wchar_t* text) {
    wchar_t clean[kLineSize];
    size_t n = 0;
    for (; text[n] != 0 && n + 1 < kLineSize; ++n)
        clean[n] = text[n] < 0x20 ? L'?' : text[n];
    clean[n] = 0;
    const int written = WideCharToMultiByte(CP_UTF8, 0, clean, -1, buffer, static_cast<int>(size),
                                            nullptr, nullptr);
    if (written == 0 && size > 0) {
        // Too long for the buffer: cut it where whole characters end.
        WideCharToMultiByte(CP_UTF8, 0, clean, static_cast<int>(n), buffer,
                            static_cast<int>(size - 1), nullptr, nullptr);
        buffer[size - 1] = 0;
        buffer[WholeCharacters(buffer, std::strlen(buffer))] = 0;
    }
}

void Utf8FromCp936(char* buffer, size_t size, const char* text, size_t length) {
    size_t n = 0;
    while (n < length && text[n] != 0)
        ++n;
    wchar_t wide[kLineSize];
    const int count = n == 0 ? 0
                             : MultiByteToWideChar(936, 0, text, static_cast<int>(n), wide,
                                                   static_cast<int>(kLineSize - 1));
    wide[count < 0 ? 0 : count] = 0;
    Utf8FromWide(buffer, size, wide);
}

void HexBytes(char* buffer, size_t size, const uint8_t* bytes, size_t count) {
    size_t used = 0;
    if (size > 0)
        buffer[0] = 0;
    for (size_t i = 0; i < count && used + 4 <= size; ++i)
        used += static_cast<size_t>(
            std::snprintf(buffer + used, size - used, i == 0 ? "%02X" : " %02X", bytes[i]));
}
