// What every scenario uses: its fresh folder, the launched tool with its
// simulator, waiting, and checks that print what they expected and saw.
#pragma once

#include "simulator.h"
#include "tool_process.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The font the dialog template asks for (res/app.rc).
constexpr int kDialogFontPoints = 10;
inline const wchar_t* const kDialogFontFace = L"宋体";

constexpr unsigned kStartTimeoutMs = 20000;
constexpr unsigned kRunTimeoutMs = 20000;

// The two programmers the simulator attaches by default.
extern const char* const kTwoDevices;
extern const wchar_t* const kLabelA;
extern const wchar_t* const kLabelB;
extern const wchar_t* const kInfoA;
extern const wchar_t* const kInfoB;

class ScenarioContext {
public:
    ScenarioContext(std::wstring name, std::wstring stage, std::wstring runFolder)
        : name_(std::move(name)), stage_(std::move(stage)), runFolder_(std::move(runFolder)) {}

    const std::wstring& Name() const { return name_; }
    const std::wstring& Stage() const { return stage_; }
    const std::wstring& RunFolder() const { return runFolder_; }
    int Failures() const { return failures_; }

    // Records a failure: prints it and, the first time, saves a screenshot.
    void Fail(const std::wstring& what);
    bool Check(bool ok, const std::wstring& what, const std::wstring& expected,
               const std::wstring& seen);
    bool CheckEqual(const std::wstring& what, const std::wstring& expected,
                    const std::wstring& seen);
    bool CheckEqual(const std::wstring& what, long long expected, long long seen);
    bool CheckLines(const std::wstring& what, const std::vector<std::wstring>& expected,
                    const std::vector<std::wstring>& seen);

private:
    std::wstring name_;
    std::wstring stage_;
    std::wstring runFolder_;
    int failures_ = 0;
};

// One launch of the tool from the scenario's folder: app\ holds copies of
// the exe and the library, sim\ is the simulator's folder.
class ToolSession {
public:
    explicit ToolSession(ScenarioContext& context);
    ~ToolSession();
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;

    // Copies, writes the scenario (if any), launches, waits for the visible
    // dialog; with settle, also for the first search to end.
    bool Start(const std::string& scenario, bool settle = true);
    // Start with the two default programmers and the given scenario lines.
    bool StartWithTwoDevices(const std::string& lines = "");
    // Presses "配置" and waits for the run's "begin config..." line.
    bool BeginConfigure(const wchar_t* label, unsigned timeoutMs = 5000);
    // The first search has ended: the simulator saw Tamla_EnumDevices and
    // both action buttons are enabled again.
    bool WaitSettled(size_t enumCalls, unsigned timeoutMs);

    HWND Dialog() const { return process_.dialog; }
    Simulator& Sim() { return sim_; }
    ToolProcess& Process() { return process_; }
    std::wstring ExePath() const;

    std::vector<std::wstring> LogLines();
    bool WaitForLogLine(const std::wstring& line, unsigned timeoutMs);
    bool WaitForLogLineCount(size_t count, unsigned timeoutMs);
    bool WaitForListCount(size_t count, unsigned timeoutMs);
    bool WaitForButtons(bool enabled, unsigned timeoutMs);
    // Clicks a visible button; a refusal is a failed check.
    bool Click(int id);
    bool Check(int id, bool checked);
    bool Command(const std::string& lines, unsigned timeoutMs = 10000);
    // The dialog thread answers within timeoutMs.
    bool Responsive(unsigned timeoutMs);

private:
    ScenarioContext& context_;
    std::wstring appFolder_;
    Simulator sim_;
    ToolProcess process_;
};

template <typename Predicate> bool WaitFor(Predicate predicate, unsigned timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (predicate())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(15);
    }
}

// The image a configuration must write, built here from firmware.bin
// (copied next to the driver) and the option values.
struct ImageOptions {
    bool countLimitSet = false; // enabled and not 0
    uint32_t countLimit = 0;
    uint8_t port = 0;
    uint32_t waitMs = 0; // 0: not set
    bool machineSignal = false;
    bool keepPower = false;
};
bool ExpectedImage(const ImageOptions& options, std::string& image, std::wstring& error);

// Compares a flash dump with the expected image, naming the first
// differences by offset.
void CheckFlashDump(ScenarioContext& context, Simulator& sim, const SimCall& call,
                    const ImageOptions& options);
// The option record as the tool registers it with the hidden boxes at their
// start-up state; the callback must point into the exe's code.
void CheckOptionDump(ScenarioContext& context, ToolSession& session, const SimCall& call);

std::wstring Describe(const std::vector<std::wstring>& lines);

// A configuration run's log line: "<label> step".
std::wstring RunLine(const wchar_t* label, const wchar_t* step);
