#include "log.h"

#include "dialog_access.h"
#include "platform.h"
#include "resource.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void LogPrintf(const char* format, ...) {
    char buffer[kLogFormatBufferSize];
    constexpr size_t kLineEnd = 2;
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof(buffer) - kLineEnd, format, args);
    va_end(args);
    size_t used = 0;
    if (length > 0)
        used = size_t(length) < sizeof(buffer) - kLineEnd ? size_t(length)
                                                          : sizeof(buffer) - kLineEnd - 1;
    buffer[used] = '\r';
    buffer[used + 1] = '\n';
    buffer[used + 2] = '\0';
    WriteDebugOutput(buffer);
    AppendLogText(buffer);
}

void AppendLogText(const char* text) {
    char buffer[kLogBoxBufferSize];
    size_t length = std::strlen(text);
    if (length < sizeof(buffer)) {
        std::memcpy(buffer, text, length + 1);
    } else {
        std::memcpy(buffer, text, sizeof(buffer) - 1);
        buffer[sizeof(buffer) - 2] = '\n';
        buffer[sizeof(buffer) - 1] = '\0';
    }
    Dialog().AppendText(IDC_LOG, buffer);
}
