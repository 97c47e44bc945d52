// Start-up, event delivery and the script runners of the stand-in library.
#include "sim_threads_win32.h"

#include "sim_command.h"
#include "sim_files_win32.h"
#include "sim_lock_win32.h"
#include "sim_log_format.h"

namespace {

constexpr DWORD kCommandPollMs = 20;
// How long a finished command file waits for its events to reach the tool
// before its .done file is written anyway.
constexpr DWORD kDeliveryWaitMs = 10000;

INIT_ONCE g_initOnce = INIT_ONCE_STATIC_INIT;
SimContext* g_sim = nullptr;

// Set while this thread runs the callback.
thread_local int t_callbackDepth = 0;

// Takes the oldest queued event if its token is at most `upTo`.
bool TakeQueuedEvent(SimContext& sim, uint64_t upTo, SimQueuedEvent& taken) {
    Locked hold(sim.eventLock);
    if (sim.events.empty() || sim.events.front().token > upTo)
        return false;
    taken = sim.events.front();
    sim.events.pop_front();
    return true;
}

void FinishEvent(SimContext& sim, uint64_t token) {
    Locked hold(sim.eventLock);
    sim.undelivered.erase(token);
    WakeAllConditionVariable(&sim.eventDelivered);
}

// A rescan before a callback, as a library that looks at the bus again
// before it reports does; under the library's lock in that mode. The marker
// file exists just while it runs, so a test can act inside that window.
void Rescan(SimContext& sim, const SimCallModes& modes, const SimEvent& next) {
    std::wstring marker = sim.folder + L"rescanning";
    LogCall(sim.log, RescanText(modes.rescanMs, modes.lockedCallbacks, next));
    WriteWholeFile(marker, "", 0);
    Sleep(modes.rescanMs);
    DeleteFileW(marker.c_str());
}

DWORD WINAPI EventThread(void* param) {
    SimContext& sim = *static_cast<SimContext*>(param);
    for (;;) {
        {
            Locked hold(sim.eventLock);
            while (sim.events.empty())
                SleepConditionVariableSRW(&sim.eventQueued, &sim.eventLock, INFINITE, 0);
        }
        SimQueuedEvent next;
        if (!TakeQueuedEvent(sim, UINT64_MAX, next))
            continue; // a search delivered it meanwhile
        // Unless the library's lock is asked for, no lock of ours is held
        // here; either way the callback may call every export.
        {
            SimCallModes modes = ReadCallModes(sim);
            LibraryLockHold hold(sim.libraryLock, modes.lockedCallbacks);
            if (modes.rescanMs > 0)
                Rescan(sim, modes, next.event);
            DeliverEvent(sim, next.event, nullptr);
        }
        FinishEvent(sim, next.token);
    }
}

// Where a script line's events go: to the event thread, or, before the
// first call has been answered, nowhere (no callback can be registered yet).
enum class EventRoute { Queue, NoCallbackYet };

// Parses, logs and applies one script line; returns the token of its last
// queued event (0 for none).
uint64_t RunLine(SimContext& sim, const std::string& line, const char* verb,
                 const std::string& source, size_t lineNumber, EventRoute route) {
    SimCommand command;
    std::string error;
    SimParse parsed = ParseSimCommand(line, command, error);
    if (parsed == SimParse::Blank)
        return 0;
    std::string where = "error " + source + ":" + std::to_string(lineNumber) + ": ";
    if (parsed == SimParse::Error) {
        LogCall(sim.log, where + error);
        return 0;
    }
    LogCall(sim.log, std::string(verb) + " " + std::string(SimCommandText(line)));
    SimOutcome outcome;
    {
        Locked hold(sim.stateLock);
        outcome = ApplySimCommand(sim.state, command);
    }
    if (!outcome.ok)
        LogCall(sim.log, where + outcome.error);
    uint64_t token = 0;
    for (const SimEvent& event : outcome.events) {
        if (route == EventRoute::Queue)
            token = QueueEvent(sim, event);
        else
            LogCall(sim.log, EventText(event, "no-callback"));
    }
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
                uint64_t token =
                    RunLine(sim, lines[i], "command", source, i + 1, EventRoute::Queue);
                if (token != 0)
                    lastToken = token;
            }
            // The .done file promises that the file's events have reached
            // the tool, unless its callback is stuck.
            if (lastToken != 0)
                WaitDelivered(sim, lastToken, kDeliveryWaitMs);
            if (!DeleteFileW(path.c_str())) {
                LogCall(sim.log, "error " + source + ": cannot delete; skipped from now on");
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
                timeline->firstLine + i + 1, EventRoute::Queue);
    return 0;
}

void StartThread(LPTHREAD_START_ROUTINE routine, void* param) {
    HANDLE thread = CreateThread(nullptr, 0, routine, param, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

// Reads the scenario (or takes the default devices), then starts the
// threads. Runs once, inside the first export call.
BOOL CALLBACK StartSimulator(PINIT_ONCE, PVOID, PVOID*) {
    // Threads of ours run code of this module until the process ends, so it
    // must never be unloaded.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartSimulator), &module);

    SimContext* sim = new SimContext;
    InitializeCriticalSection(&sim->libraryLock);
    sim->folder = SimulatorFolder(module);
    EnsureFolder(sim->folder);
    EnsureFolder(sim->folder + L"cmd");
    EnsureFolder(sim->folder + L"dumps");
    OpenCallLog(sim->log, sim->folder);

    std::string scenario;
    if (!ReadWholeFile(sim->folder + L"tamlasim.txt", scenario)) {
        sim->state = DefaultSimState();
    } else {
        // Lines before the first wait take effect now, before the tool can
        // have registered a callback, so their events reach no one.
        std::vector<std::string> lines = SplitScriptLines(scenario);
        size_t firstWait = FirstWaitLine(lines);
        for (size_t i = 0; i < firstWait; ++i)
            RunLine(*sim, lines[i], "scenario", "tamlasim.txt", i + 1, EventRoute::NoCallbackYet);
        if (firstWait < lines.size()) {
            sim->scenarioTimeline.assign(lines.begin() + long(firstWait), lines.end());
            StartThread(TimelineThread, new Timeline{sim, firstWait});
        }
    }

    StartThread(EventThread, sim);
    StartThread(CommandThread, sim);
    g_sim = sim;
    return TRUE;
}

} // namespace

SimContext& Simulator() {
    InitOnceExecuteOnce(&g_initOnce, StartSimulator, nullptr, nullptr);
    return *g_sim;
}

SimCallModes ReadCallModes(SimContext& sim) {
    Locked hold(sim.stateLock);
    SimCallModes modes;
    modes.syncCallbacks = sim.state.syncCallbacks;
    modes.lockedCallbacks = sim.state.lockedCallbacks;
    modes.enumMs = sim.state.enumMs;
    modes.rescanMs = sim.state.rescanMs;
    return modes;
}

uint64_t QueueEvent(SimContext& sim, const SimEvent& event) {
    Locked hold(sim.eventLock);
    uint64_t token = ++sim.lastToken;
    sim.events.push_back({token, event});
    sim.undelivered.insert(token);
    WakeConditionVariable(&sim.eventQueued);
    return token;
}

void WaitDelivered(SimContext& sim, uint64_t token, DWORD timeoutMs) {
    if (t_callbackDepth > 0)
        return;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&sim.eventLock);
    while (!sim.undelivered.empty() && *sim.undelivered.begin() <= token) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            break;
        SleepConditionVariableSRW(&sim.eventDelivered, &sim.eventLock, DWORD(deadline - now), 0);
    }
    ReleaseSRWLockExclusive(&sim.eventLock);
}

bool InsideCallback() { return t_callbackDepth > 0; }

void DeliverEvent(SimContext& sim, const SimEvent& event, const char* inCall) {
    uint32_t field = sim.callbackField.load();
    DeviceEventCallback callback = field != 0 ? IspDecodeCallback(field) : nullptr;
    std::string result = "no-callback";
    if (callback != nullptr) {
        ++t_callbackDepth;
        result = std::to_string(callback(event.code, event.mask, event.count));
        --t_callbackDepth;
    }
    LogCall(sim.log, EventText(event, result, inCall));
}

void DeliverQueuedEvents(SimContext& sim, const char* inCall) {
    uint64_t last = 0;
    {
        Locked hold(sim.eventLock);
        last = sim.lastToken;
    }
    SimQueuedEvent next;
    while (TakeQueuedEvent(sim, last, next)) {
        DeliverEvent(sim, next.event, inCall);
        FinishEvent(sim, next.token);
    }
}
