// The call log and dumps of the stand-in library.
#include "sim_call_log_win32.h"

#include "sim_files_win32.h"
#include "sim_lock_win32.h"
#include "sim_log_format.h"

namespace {

ULONGLONG g_loadTick = 0;

uint32_t MillisSinceLoad() { return uint32_t(GetTickCount64() - g_loadTick); }

void WriteLineLocked(SimCallLog& log, const std::string& text) {
    std::string line = LogLine(log.nextSeq++, MillisSinceLoad(), text);
    DWORD written = 0;
    if (log.file != INVALID_HANDLE_VALUE)
        WriteFile(log.file, line.data(), DWORD(line.size()), &written, nullptr);
}

} // namespace

void StartCallLogClock() { g_loadTick = GetTickCount64(); }

void OpenCallLog(SimCallLog& log, const std::wstring& folder) {
    log.folder = folder;
    log.file = CreateFileW((folder + L"calls.log").c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void LogCall(SimCallLog& log, const std::string& text) {
    Locked hold(log.lock);
    WriteLineLocked(log, text);
}

void LogCallWithDump(SimCallLog& log, const char* kind, const void* data, size_t size,
                     const std::function<std::string(const std::string& dumpNote)>& makeText) {
    Locked hold(log.lock);
    std::string name = DumpFileName(kind, log.nextSeq);
    bool dumped = WriteWholeFile(log.folder + L"dumps\\" + std::wstring(name.begin(), name.end()),
                                 data, size);
    WriteLineLocked(log, makeText(dumped ? "dump=" + name : std::string("dump=failed")));
}
