// Formatting of the call log; printf-style so the layout is plain to see.
#include "sim_log_format.h"

#include <cinttypes>
#include <cstdio>

std::string DumpFileName(const char* kind, uint32_t seq) {
    char text[64];
    std::snprintf(text, sizeof text, "%s-%04" PRIu32 ".bin", kind, seq);
    return text;
}

std::string LogLine(uint32_t seq, uint32_t ms, const std::string& text) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%" PRIu32 " %" PRIu32 " ", seq, ms);
    return prefix + text + "\n";
}

std::string EnumCallText(uint32_t maxCount, int32_t result) {
    char text[96];
    std::snprintf(text, sizeof text, "Tamla_EnumDevices max=%" PRIu32 " -> %" PRId32, maxCount,
                  result);
    return text;
}

std::string OptionCallText(int32_t mode, uint32_t callbackField, int32_t result,
                           const std::string& note) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Tamla_SetIspOption mode=%" PRId32 " callback=0x%08" PRIX32 " -> %" PRId32 " ",
                  mode, callbackField, result);
    return text + note;
}

std::string FlashCallText(uint32_t deviceId, uint32_t length, const int32_t args[4], int32_t result,
                          const std::string& note) {
    char text[192];
    std::snprintf(text, sizeof text,
                  "Tamla_FlashProgramB id=%" PRIu32 " len=%" PRIu32 " args=%" PRId32 ",%" PRId32
                  ",%" PRId32 ",%" PRId32 " -> %" PRId32 " ",
                  deviceId, length, args[0], args[1], args[2], args[3], result);
    return text + note;
}

std::string EventText(const SimEvent& event, const std::string& result, const char* inCall) {
    char text[160];
    std::snprintf(text, sizeof text, "event code=%" PRId32 " mask=0x%04" PRIX32 " count=%" PRIu32,
                  event.code, event.mask, event.count);
    std::string line = text;
    if (inCall != nullptr)
        line += std::string(" in=") + inCall;
    return line + " -> " + result;
}

std::string ImageChangedText(uint32_t deviceId, const SimImageChange& change) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "error Tamla_FlashProgramB id=%" PRIu32
                  ": image changed during the write, %" PRIu32
                  " bytes differ, the first at 0x%04" PRIX32,
                  deviceId, change.bytes, change.first);
    return text;
}

std::string RescanText(uint32_t ms, bool underLock, const SimEvent& next) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "rescan ms=%" PRIu32 "%s before code=%" PRId32 " mask=0x%04" PRIX32
                  " count=%" PRIu32,
                  ms, underLock ? " under-lock" : "", next.code, next.mask, next.count);
    return text;
}
