// The Win32 shell of the stand-in library: DllMain, the three exports, the
// call log, and the simulator's threads (command folder, scenario timeline,
// event delivery). Decisions live in sim_engine; this file waits, writes
// files and calls the tool back.
//
// Exit safety: nothing here has a destructor that runs at unload. The
// context is allocated once and never freed, the threads are raw Win32
// threads, and DllMain does nothing but note the load time, so a process
// that ends while a write or a callback is in progress just ends.
#include "isp_api.h"
#include "sim_command.h"
#include "sim_engine.h"
#include "sim_files_win32.h"
#include "sim_log_format.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

// How long a finished command file, or a write that unplugged its device,
// waits for its events to reach the tool before going on anyway.
constexpr DWORD kDeliveryWaitMs = 10000;
constexpr DWORD kCommandPollMs = 20;
constexpr DWORD kWriteSliceMs = 10;

// Holds an SRW lock for a scope.
class Locked {
public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

struct SimContext {
    std::wstring folder; // ends in a backslash

    SRWLOCK stateLock = SRWLOCK_INIT;
    SimState state;

    SRWLOCK logLock = SRWLOCK_INIT;
    HANDLE logFile = INVALID_HANDLE_VALUE;
    uint32_t nextSeq = 1;

    SRWLOCK eventLock = SRWLOCK_INIT;
    CONDITION_VARIABLE eventQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE eventDelivered = CONDITION_VARIABLE_INIT;
    std::deque<SimEvent> events;
    uint64_t queuedCount = 0;
    uint64_t deliveredCount = 0;
    DWORD eventThreadId = 0;

    std::vector<std::string> scenarioTimeline; // scenario lines from the first wait on
};

HMODULE g_module = nullptr;
ULONGLONG g_loadTick = 0;
INIT_ONCE g_initOnce = INIT_ONCE_STATIC_INIT;
SimContext* g_sim = nullptr;
// Callback field of the last accepted registration; 0 means no events.
std::atomic<uint32_t> g_callbackField{0};

uint32_t MillisSinceLoad() { return uint32_t(GetTickCount64() - g_loadTick); }

void WriteLogLineLocked(SimContext& sim, const std::string& text) {
    std::string line = LogLine(sim.nextSeq++, MillisSinceLoad(), text);
    DWORD written = 0;
    if (sim.logFile != INVALID_HANDLE_VALUE)
        WriteFile(sim.logFile, line.data(), DWORD(line.size()), &written, nullptr);
}

void Log(SimContext& sim, const std::string& text) {
    Locked hold(sim.logLock);
    WriteLogLineLocked(sim, text);
}

// Writes the dump under the line's own sequence number, then the line, so a
// reader that sees the line finds the dump complete.
template <typename MakeText>
void LogWithDump(SimContext& sim, const char* kind, const void* data, size_t size,
                 MakeText makeText) {
    Locked hold(sim.logLock);
    std::string name = DumpFileName(kind, sim.nextSeq);
    bool dumped = WriteWholeFile(sim.folder + L"dumps\\" + std::wstring(name.begin(), name.end()),
                                 data, size);
    WriteLogLineLocked(sim, makeText(dumped ? "dump=" + name : std::string("dump=failed")));
}

// Returns a token that WaitDelivered accepts.
uint64_t QueueEvent(SimContext& sim, const SimEvent& event) {
    Locked hold(sim.eventLock);
    sim.events.push_back(event);
    WakeConditionVariable(&sim.eventQueued);
    return ++sim.queuedCount;
}

void WaitDelivered(SimContext& sim, uint64_t token, DWORD timeoutMs) {
    // The event thread itself (a write started inside the callback) cannot
    // wait for its own deliveries.
    if (GetCurrentThreadId() == sim.eventThreadId)
        return;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&sim.eventLock);
    while (sim.deliveredCount < token) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            break;
        SleepConditionVariableSRW(&sim.eventDelivered, &sim.eventLock, DWORD(deadline - now), 0);
    }
    ReleaseSRWLockExclusive(&sim.eventLock);
}

DWORD WINAPI EventThread(void* param) {
    SimContext& sim = *static_cast<SimContext*>(param);
    for (;;) {
        AcquireSRWLockExclusive(&sim.eventLock);
        while (sim.events.empty())
            SleepConditionVariableSRW(&sim.eventQueued, &sim.eventLock, INFINITE, 0);
        SimEvent event = sim.events.front();
        sim.events.pop_front();
        ReleaseSRWLockExclusive(&sim.eventLock);

        // No lock of ours is held here: the callback may call every export.
        uint32_t field = g_callbackField.load();
        DeviceEventCallback callback = field != 0 ? IspDecodeCallback(field) : nullptr;
        std::string result = "no-callback";
        if (callback != nullptr)
            result = std::to_string(callback(event.code, event.mask, event.count));
        Log(sim, EventText(event, result));

        Locked hold(sim.eventLock);
        ++sim.deliveredCount;
        WakeAllConditionVariable(&sim.eventDelivered);
    }
}

// Runs one script line; returns the token of its last event (0 for none).
uint64_t RunLine(SimContext& sim, const std::string& line, const char* verb,
                 const std::string& source, size_t lineNumber) {
    SimCommand command;
    std::string error;
    SimParse parsed = ParseSimCommand(line, command, error);
    if (parsed == SimParse::Blank)
        return 0;
    if (parsed == SimParse::Error) {
        Log(sim, "error " + source + ":" + std::to_string(lineNumber) + ": " + error);
        return 0;
    }
    Log(sim, std::string(verb) + " " + std::string(SimCommandText(line)));
    SimOutcome outcome;
    {
        Locked hold(sim.stateLock);
        outcome = ApplySimCommand(sim.state, command);
    }
    if (!outcome.ok)
        Log(sim, "error " + source + ":" + std::to_string(lineNumber) + ": " + outcome.error);
    uint64_t token = 0;
    for (const SimEvent& event : outcome.events)
        token = QueueEvent(sim, event);
    if (outcome.waitMs > 0)
        Sleep(outcome.waitMs);
    return token;
}

DWORD WINAPI CommandThread(void* param) {
    SimContext& sim = *static_cast<SimContext*>(param);
    std::wstring folder = sim.folder + L"cmd\\";
    for (;;) {
        Sleep(kCommandPollMs);
        for (const std::wstring& name : ListCommandFiles(folder)) {
            std::string contents;
            std::wstring path = folder + name;
            if (!ReadWholeFile(path, contents))
                continue;
            std::string source = "cmd/" + NarrowName(name);
            std::vector<std::string> lines = SplitScriptLines(contents);
            uint64_t lastToken = 0;
            for (size_t i = 0; i < lines.size(); ++i) {
                uint64_t token = RunLine(sim, lines[i], "command", source, i + 1);
                if (token != 0)
                    lastToken = token;
            }
            // The .done file promises that the file's events have reached
            // the tool, unless its callback is stuck.
            if (lastToken != 0)
                WaitDelivered(sim, lastToken, kDeliveryWaitMs);
            if (!DeleteFileW(path.c_str())) {
                Log(sim, "error " + source + ": cannot delete; skipped from now on");
                MoveFileExW(path.c_str(), (path + L".failed").c_str(), MOVEFILE_REPLACE_EXISTING);
            }
            std::wstring done = path.substr(0, path.size() - 4) + L".done";
            WriteWholeFile(done, "", 0);
        }
    }
}

// A scenario's timeline: the lines from its first wait on, on their own
// thread so the command folder keeps being served meanwhile.
struct Timeline {
    SimContext* sim;
    size_t firstLine; // 0-based line number of the first timeline line
};

DWORD WINAPI TimelineThread(void* param) {
    Timeline* timeline = static_cast<Timeline*>(param);
    SimContext& sim = *timeline->sim;
    for (size_t i = 0; i < sim.scenarioTimeline.size(); ++i)
        RunLine(sim, sim.scenarioTimeline[i], "scenario", "tamlasim.txt",
                timeline->firstLine + i + 1);
    return 0;
}

void StartThread(LPTHREAD_START_ROUTINE routine, void* param, DWORD* id = nullptr) {
    HANDLE thread = CreateThread(nullptr, 0, routine, param, 0, id);
    if (thread != nullptr)
        CloseHandle(thread);
}

// Reads the scenario (or takes the default devices), then starts the
// threads. Runs once, inside the first export call.
BOOL CALLBACK StartSimulator(PINIT_ONCE, PVOID, PVOID*) {
    // Threads of ours run code of this module until the process ends, so it
    // must never be unloaded.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartSimulator), &pinned);

    SimContext* sim = new SimContext;
    sim->folder = SimulatorFolder(g_module);
    EnsureFolder(sim->folder);
    EnsureFolder(sim->folder + L"cmd");
    EnsureFolder(sim->folder + L"dumps");
    sim->logFile = CreateFileW((sim->folder + L"calls.log").c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);

    std::string scenario;
    if (!ReadWholeFile(sim->folder + L"tamlasim.txt", scenario)) {
        sim->state = DefaultSimState();
    } else {
        // Lines before the first wait take effect now, before the tool can
        // have registered a callback, so their events reach no one.
        std::vector<std::string> lines = SplitScriptLines(scenario);
        size_t firstWait = FirstWaitLine(lines);
        for (size_t i = 0; i < firstWait; ++i) {
            SimCommand command;
            std::string error;
            SimParse parsed = ParseSimCommand(lines[i], command, error);
            if (parsed == SimParse::Blank)
                continue;
            std::string where = "error tamlasim.txt:" + std::to_string(i + 1) + ": ";
            if (parsed == SimParse::Error) {
                Log(*sim, where + error);
                continue;
            }
            Log(*sim, "scenario " + std::string(SimCommandText(lines[i])));
            SimOutcome outcome = ApplySimCommand(sim->state, command);
            if (!outcome.ok)
                Log(*sim, where + outcome.error);
            for (const SimEvent& event : outcome.events)
                Log(*sim, EventText(event, "no-callback"));
        }
        if (firstWait < lines.size()) {
            sim->scenarioTimeline.assign(lines.begin() + long(firstWait), lines.end());
            StartThread(TimelineThread, new Timeline{sim, firstWait});
        }
    }

    StartThread(EventThread, sim, &sim->eventThreadId);
    StartThread(CommandThread, sim);
    g_sim = sim;
    return TRUE;
}

SimContext& Simulator() {
    InitOnceExecuteOnce(&g_initOnce, StartSimulator, nullptr, nullptr);
    return *g_sim;
}

// Only code can be called back; anything else would crash the event thread.
bool IsExecutable(uint32_t field) {
    DeviceEventCallback callback = IspDecodeCallback(field);
    MEMORY_BASIC_INFORMATION info;
    if (callback == nullptr ||
        VirtualQuery(reinterpret_cast<const void*>(callback), &info, sizeof info) == 0)
        return false;
    const DWORD executable =
        PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && (info.Protect & executable) != 0;
}

// Sleeps for a write's duration in slices; false when the device went away
// meanwhile (an unplug command during the write).
bool WriteFor(SimContext& sim, uint32_t deviceId, DWORD durationMs) {
    ULONGLONG deadline = GetTickCount64() + durationMs;
    for (;;) {
        {
            Locked hold(sim.stateLock);
            if (FindSlot(sim.state.devices, deviceId) < 0)
                return false;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return true;
        Sleep(DWORD(deadline - now < kWriteSliceMs ? deadline - now : kWriteSliceMs));
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        g_loadTick = GetTickCount64();
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" {

int32_t ISP_CALL Tamla_EnumDevices(IspDeviceInfo* devices, uint32_t maxCount) {
    SimContext& sim = Simulator();
    int32_t result = 0;
    {
        Locked hold(sim.stateLock);
        result = EnumerateSimDevices(sim.state, devices, maxCount);
    }
    Log(sim, EnumCallText(maxCount, result));
    return result;
}

int32_t ISP_CALL Tamla_SetIspOption(IspOption* option) {
    SimContext& sim = Simulator();
    if (option == nullptr) {
        Log(sim, "Tamla_SetIspOption record=null -> 0");
        return 0;
    }
    const IspOption passed = *option;
    int32_t result = 0;
    {
        Locked hold(sim.stateLock);
        result = RegisterSimOption(sim.state, *option);
    }
    uint32_t field = EventCallbackField(passed);
    // A refused registration leaves the previous one in force.
    if (result != 0) {
        if (field != 0 && !IsExecutable(field)) {
            char text[64];
            std::snprintf(text, sizeof text, "error callback 0x%08X is not code; events off",
                          unsigned(field));
            Log(sim, text);
            field = 0;
        }
        g_callbackField.store(field);
    }
    int32_t mode = int32_t(IspGetU32(passed, isp_option::kMode));
    LogWithDump(sim, "option", passed.bytes, sizeof passed.bytes, [&](const std::string& dump) {
        return OptionCallText(mode, IspGetU32(passed, isp_option::kCallback), result, dump);
    });
    return result;
}

int32_t ISP_CALL Tamla_FlashProgramB(uint32_t deviceId, const uint8_t* image, uint32_t length,
                                     int32_t arg4, int32_t arg5, int32_t arg6, int32_t arg7) {
    SimContext& sim = Simulator();
    const int32_t args[4] = {arg4, arg5, arg6, arg7};
    SimFlashPlan plan;
    {
        Locked hold(sim.stateLock);
        plan = PlanSimFlash(sim.state, deviceId, image != nullptr, length);
    }
    if (plan.error != nullptr) {
        Log(sim, FlashCallText(deviceId, length, args, 0, std::string("error=") + plan.error));
        return 0;
    }
    // The image as passed, before the caller can touch its buffer again.
    std::vector<uint8_t> copy(image, image + length);
    int32_t result = plan.result;
    if (plan.unplugHalfway) {
        WriteFor(sim, deviceId, plan.durationMs / 2);
        SimEvent event;
        bool unplugged = false;
        {
            Locked hold(sim.stateLock);
            unplugged = UnplugDuringWrite(sim.state, deviceId, event);
        }
        if (unplugged) {
            Log(sim, "unplug-during-write id=" + std::to_string(deviceId));
            uint64_t token = QueueEvent(sim, event);
            Sleep(plan.durationMs - plan.durationMs / 2);
            WaitDelivered(sim, token, kDeliveryWaitMs);
        }
        result = 0;
    } else if (!WriteFor(sim, deviceId, plan.durationMs)) {
        result = 0;
    }
    LogWithDump(sim, "flash", copy.data(), copy.size(), [&](const std::string& dump) {
        return FlashCallText(deviceId, length, args, result, dump);
    });
    return result;
}

} // extern "C"
