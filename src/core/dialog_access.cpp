#include "dialog_access.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<DialogAccess*> g_dialog{nullptr};
} // namespace

void SetDialogAccess(DialogAccess* dialog) { g_dialog.store(dialog); }

DialogAccess& Dialog() {
    DialogAccess* dialog = g_dialog.load();
    // The front end installs the dialog before any code that uses it can run.
    if (dialog == nullptr)
        std::abort();
    return *dialog;
}

uint32_t ParseUnsignedText(const char* text) {
    if (text == nullptr)
        return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f')
        ++p;
    if (*p < '0' || *p > '9')
        return 0;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + uint64_t(*p - '0');
        if (value > 0xFFFFFFFFu)
            return 0;
    }
    return static_cast<uint32_t>(value);
}
