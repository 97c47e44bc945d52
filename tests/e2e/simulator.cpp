#include "simulator.h"

#include "text_util.h"
#include "tool_process.h"

#include <windows.h>

#include <cwchar>

bool Simulator::Prepare(const std::string& scenario) {
    if (!RemoveTree(folder_) || !MakeFolders(JoinPath(folder_, L"cmd")))
        return false;
    return scenario.empty() || WriteWholeFile(JoinPath(folder_, L"tamlasim.txt"), scenario);
}

bool Simulator::Post(const std::string& lines, std::wstring& done, std::wstring& error) {
    std::wstring base = JoinPath(JoinPath(folder_, L"cmd"), Format(L"c%04u", ++commandNumber_));
    std::wstring temporary = base + L".tmp";
    std::wstring ready = base + L".cmd";
    done = base + L".done";
    std::string text = lines;
    if (text.empty() || text.back() != '\n')
        text += '\n';
    if (!WriteWholeFile(temporary, text) || !MoveFileW(temporary.c_str(), ready.c_str())) {
        error = L"cannot write command file " + ready;
        return false;
    }
    return true;
}

bool Simulator::Command(const std::string& lines, unsigned timeoutMs, std::wstring& error) {
    std::wstring done;
    if (!Post(lines, done, error))
        return false;
    double deadline = NowMs() + timeoutMs;
    while (!FileExists(done)) {
        if (NowMs() > deadline) {
            error = Format(L"the simulator did not finish command \"%ls\" within %u ms",
                           FromUtf8(lines).c_str(), timeoutMs);
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool ParseSimCall(const std::wstring& line, SimCall& call) {
    call = SimCall{};
    call.line = line;
    wchar_t function[64] = {};
    int consumed = 0;
    if (swscanf(line.c_str(), L"%u %u %63ls%n", &call.seq, &call.ms, function, &consumed) != 3)
        return false;
    call.function = function;
    std::wstring rest = line.substr(size_t(consumed));
    size_t arrow = rest.rfind(L" -> ");
    std::wstring details = arrow == std::wstring::npos ? rest : rest.substr(0, arrow);
    std::wstring result = arrow == std::wstring::npos ? L"" : rest.substr(arrow + 4);
    while (!details.empty() && details.front() == L' ')
        details.erase(0, 1);
    size_t dump = result.find(L" dump=");
    if (dump != std::wstring::npos) {
        call.dump = result.substr(dump + 6);
        result = result.substr(0, dump);
    }
    call.details = details;
    call.result = result;
    return true;
}

std::wstring Simulator::CallLogText() const {
    std::string bytes;
    ReadWholeFile(JoinPath(folder_, L"calls.log"), bytes);
    return FromUtf8(bytes);
}

std::vector<SimCall> Simulator::Calls() const {
    std::vector<SimCall> calls;
    std::wstring text = CallLogText();
    // A line still being written has no line end yet: leave it for later.
    size_t complete = text.rfind(L'\n');
    text = complete == std::wstring::npos ? L"" : text.substr(0, complete + 1);
    for (const std::wstring& line : SplitLines(text)) {
        SimCall call;
        if (ParseSimCall(line, call))
            calls.push_back(call);
    }
    return calls;
}

std::vector<SimCall> Simulator::CallsOf(const std::wstring& name) const {
    std::vector<SimCall> selected;
    for (const SimCall& call : Calls())
        if (call.function == name)
            selected.push_back(call);
    return selected;
}

bool Simulator::WaitForCalls(const std::wstring& name, size_t count, unsigned timeoutMs) const {
    double deadline = NowMs() + timeoutMs;
    while (CountOf(name) < count) {
        if (NowMs() > deadline)
            return false;
        Sleep(20);
    }
    return true;
}

std::wstring Simulator::DumpPath(const std::wstring& dumpName) const {
    return JoinPath(JoinPath(folder_, L"dumps"), dumpName);
}

bool Simulator::ReadDump(const std::wstring& dumpName, std::string& bytes) const {
    return !dumpName.empty() && ReadWholeFile(DumpPath(dumpName), bytes);
}

std::wstring Simulator::NewestFlashDump() const {
    std::wstring newest;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(DumpPath(L"flash-*.bin").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return newest;
    do {
        // Zero-padded sequence numbers: the greatest name is the newest.
        if (newest.empty() || wcscmp(entry.cFileName, newest.c_str()) > 0)
            newest = entry.cFileName;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return newest.empty() ? newest : DumpPath(newest);
}
