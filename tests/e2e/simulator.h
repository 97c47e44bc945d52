// The stand-in library's side of a run: its scenario file, its command
// folder, its call log and its dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimCall {
    unsigned seq = 0;
    unsigned ms = 0;
    std::wstring function; // "Tamla_FlashProgramB", "event", "command", "error", ...
    std::wstring details;  // between the function and " -> "
    std::wstring result;   // after " -> ", without " dump=..."
    std::wstring dump;     // file name after "dump=", if any
    std::wstring line;     // the whole line
};

class Simulator {
public:
    explicit Simulator(std::wstring folder) : folder_(std::move(folder)) {}

    const std::wstring& Folder() const { return folder_; }
    // Creates the folder with cmd\ and, when text is not empty, tamlasim.txt.
    bool Prepare(const std::string& scenario);
    // Writes a command file (.tmp renamed to .cmd) and waits for its .done.
    bool Command(const std::string& lines, unsigned timeoutMs, std::wstring& error);
    // Writes a command file without waiting; `done` gets its .done file's path.
    bool Post(const std::string& lines, std::wstring& done, std::wstring& error);

    std::vector<SimCall> Calls() const;
    // Calls whose function is name.
    std::vector<SimCall> CallsOf(const std::wstring& name) const;
    size_t CountOf(const std::wstring& name) const { return CallsOf(name).size(); }
    // Waits until CountOf(name) >= count.
    bool WaitForCalls(const std::wstring& name, size_t count, unsigned timeoutMs) const;
    std::wstring DumpPath(const std::wstring& dumpName) const;
    bool ReadDump(const std::wstring& dumpName, std::string& bytes) const;
    // Newest flash-*.bin in dumps\ (empty when none).
    std::wstring NewestFlashDump() const;
    std::wstring CallLogText() const;

private:
    std::wstring folder_;
    unsigned commandNumber_ = 0;
};

// Parses one calls.log line; false when it does not have the log's shape.
bool ParseSimCall(const std::wstring& line, SimCall& call);
