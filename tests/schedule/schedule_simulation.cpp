// A randomized schedule test of the device coordination. Each seed drives the
// real core, with the fake dialog on a dialog thread of its own, against a
// model of the library as hard as its interface allows. It keeps a set of
// up to 20 attached programmers (more than the tool's 16 slots in a crowd);
// a user plugs and unplugs them, presses find devices and configure, changes
// the selection, may close the tool, and Windows may ask to end the session
// and have that called off. As the seed says, the library reports the
// changes from one or two threads of its own (on two at once), and also from
// inside Tamla_EnumDevices, Tamla_SetIspOption and Tamla_FlashProgramB on
// the caller's thread, nested inside callbacks too; it may hold one lock in
// every export and across its callbacks, and for a while before them; it may
// fail a search, and count more programmers than it writes; and a worker
// thread may fail to start. When everything is quiet (after one last press
// of find devices with nothing failing, where anything failed), the record
// of what the library, the dialog and the log saw is checked against the
// tool's rules: never two threads inside the library and never the dialog's
// thread; each press of configure ends in a write of its device or a line
// saying why; nothing reaches the library after a close but the write in
// progress; writes match presses and arrivals; every line is true; at rest
// the list shows what is attached. A schedule in which every thread waits is
// a failure, reported with its seed.
//
//   schedule_simulation [--first S] [--seeds N] [--seed S] [--free] [--trace] [--show]
//
// Controlled (the default): one thread runs at a time and the seed picks the
// next at every seam, so a failing seed replays exactly (--seed S --trace
// prints its whole schedule; --show prints what each seed did). --free runs the same scenarios on
// free threads, for the thread sanitizer.
#include "scheduler.h"

#include "close_guard.h"
#include "core_mutex.h"
#include "device_coordination.h"
#include "device_text.h"
#include "dialog_access.h"
#include "dialog_commands.h"
#include "fake_dialog.h"
#include "isp_api.h"
#include "platform.h"
#include "resource.h"
#include "shared_state.h"
#include "worker_jobs.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {
constexpr int kPool = 20;              // programmers the user may plug in
constexpr uint64_t kOpen = UINT64_MAX; // an interval still open
using sched::WorldLock;

struct Report {
    int32_t code;
    uint32_t mask;
    uint32_t count;
};
struct EventSeen {
    Report report;
    uint64_t entered;
    uint64_t returned;
    bool async; // from a library thread, not inside a call
};
struct Scan {
    uint64_t step;
    std::vector<int> devices; // the records written, in slot order
    bool failed;
};
// A stay of a programmer, from its plug to its unplug (kOpen: still there).
struct Stay {
    uint64_t from;
    uint64_t to;
    bool seen; // plugged into one of the first 16 slots, which searches read
};
// A call into the library.
struct Call {
    uint64_t step;
    uint32_t thread;
    std::string name;
};
struct Write {
    int device;
    uint64_t start;
    uint64_t end;
    uint32_t thread;
    int32_t result;
};
struct Press {
    uint64_t step;
    int device; // -1: no entry selected
    int entry;
};
struct Line {
    uint64_t step;
    uint32_t thread;
    std::string text;
};
struct SentOp {
    std::function<void()> work;
    bool done = false;
};

// The scenario, fixed by the seed before the run.
struct Scenario {
    bool insideCalls = false;
    bool underLock = false;
    bool failingSearches = false; // one search in three fails
    bool failingThreads = false;  // one thread start in three fails
    bool crowd = false;           // more programmers than the tool's 16 slots
    bool autoDownload = false;
    int eventThreads = 1;
    int attachedAtStart = 0;
    bool waitForStartUp = true;
    uint32_t patience = 1; // the most seams the user waits between two actions
    std::vector<int> actions;
};

// Everything shared, under sched::WorldLock.
struct World {
    Scenario scenario;
    std::vector<int> attached; // by slot
    std::array<std::vector<Stay>, kPool> stays;
    std::deque<Report> events;
    int delivering = 0;
    uint32_t callbackField = 0;
    uint32_t libraryOwner = 0;
    int libraryDepth = 0;
    std::map<uint32_t, int> inside; // threads inside the library's exports, and how deep
    bool failuresOff = false;       // the settling press at the end
    std::deque<SentOp*> sent;
    std::deque<std::pair<std::string, std::function<void()>>> posted;
    uint32_t dialogThread = 0;
    bool dialogBusy = false;
    bool destroyed = false;
    bool stop = false;
    int workersAlive = 0;
    bool userDone = false;
    size_t requests = 0; // presses of find devices, registrations and changes of the set
    std::map<const CoreMutex*, uint32_t> coreOwners;

    std::vector<std::string> log; // the actions and switches, for the report
    std::vector<EventSeen> seen;
    std::vector<Scan> scans;
    std::vector<Write> writes;
    std::vector<Press> presses;
    std::vector<Line> lines;
    std::vector<Call> calls;
    size_t startFailures = 0;
    uint64_t sessionEnding = kOpen; // the first session end allowed
    int callOffIn = 0;              // the user's actions until it is called off
    uint64_t closeStep = kOpen;     // the first close asked for
    uint64_t closeDecided = kOpen;  // ... and answered
    bool closeDeferred = false;
};
World g;
std::unique_ptr<class SimDialog> g_dialog;

IspDeviceInfo PoolDevice(int k) {
    IspDeviceInfo device{};
    device.deviceId = uint32_t(k + 1);
    device.bootVersion = uint16_t(0x200 + k);
    const uint8_t uid[6] = {0xD0, uint8_t(k), 0x5A, uint8_t(3 * k), 0x00, uint8_t(0xF0 - k)};
    std::memcpy(device.uniqueId, uid, sizeof(uid));
    std::snprintf(device.name, sizeof(device.name), "PROG-%d", k);
    return device;
}

std::string Label(int k) {
    char text[128];
    FormatUidLabel(text, sizeof(text), PoolDevice(k));
    return text;
}

int DeviceOfLabel(const std::string& label) {
    for (int k = 0; k < kPool; ++k)
        if (Label(k) == label)
            return k;
    return -1;
}

uint32_t SlotBits(size_t n) { return n >= 16 ? 0xFFFFu : (1u << n) - 1; }

std::string Describe(const Report& r) {
    char text[64];
    std::snprintf(text, sizeof(text), "code=%d mask=0x%04X count=%u", r.code, r.mask, r.count);
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// ---- The library model -----------------------------------------------------

thread_local int t_callbackDepth = 0;

// The library's own lock, when the seed gives it one: recursive, taken by
// every export for its whole call and held by an event thread for a while
// before it calls back and until the callback returns.
void LockLibrary() {
    if (!g.scenario.underLock)
        return;
    const uint32_t me = sched::CurrentId();
    for (;;) {
        sched::WaitUntil("the library's lock",
                         [me] { return g.libraryOwner == 0 || g.libraryOwner == me; });
        WorldLock lock;
        if (g.libraryOwner == 0 || g.libraryOwner == me) {
            g.libraryOwner = me;
            ++g.libraryDepth;
            return;
        }
    }
}

void UnlockLibrary() {
    if (!g.scenario.underLock)
        return;
    WorldLock lock;
    if (--g.libraryDepth == 0)
        g.libraryOwner = 0;
}

// An export begins: the library need not be thread-safe, so no other thread
// may be inside one, and the dialog's thread never calls into it.
void EnterLibrary(const char* name) {
    const uint32_t me = sched::CurrentId();
    {
        WorldLock lock;
        if (me == g.dialogThread)
            sched::Fail(std::string("the dialog's thread called ") + name);
        for (const auto& [thread, depth] : g.inside)
            if (thread != me && depth > 0)
                sched::Fail(std::string(name) + " called on T" + std::to_string(me) + " while T" +
                            std::to_string(thread) + " is inside the library");
        ++g.inside[me];
        g.calls.push_back({sched::Now(), me, name});
    }
    LockLibrary();
}

void LeaveLibrary() {
    UnlockLibrary();
    WorldLock lock;
    --g.inside[sched::CurrentId()];
}

int32_t CallBack(const Report& report, bool async) {
    sched::Seam("callback " + Describe(report));
    size_t index = 0;
    uint32_t field = 0;
    {
        WorldLock lock;
        field = g.callbackField;
        index = g.seen.size();
        g.seen.push_back({report, sched::Now(), 0, async});
    }
    if (++t_callbackDepth > 6)
        sched::Fail("callbacks nested six deep on one thread");
    const DeviceEventCallback callback = IspDecodeCallback(field);
    const int32_t answer = callback ? callback(report.code, report.mask, report.count) : -1;
    --t_callbackDepth;
    WorldLock lock;
    g.seen[index].returned = sched::Now();
    return answer;
}

// Delivers a report taken from the queue.
void Deliver(const Report& report, bool async) {
    CallBack(report, async);
    WorldLock lock;
    --g.delivering;
}

// Inside an export, on the caller's thread: the events queued so far, taken
// once, and a report of the attached set (code 3 in a registration, as an
// arrival of what is attached; code 1 in a search or a write).
void ReportInsideCall(int32_t code) {
    if (!g.scenario.insideCalls)
        return;
    if (sched::Choose(2) == 0) {
        std::deque<Report> taken;
        {
            WorldLock lock;
            taken.swap(g.events);
            g.delivering += int(taken.size());
        }
        for (const Report& report : taken)
            Deliver(report, false);
    }
    if (sched::Choose(2) == 0) {
        Report report{};
        {
            WorldLock lock;
            report = {code, SlotBits(g.attached.size()), uint32_t(g.attached.size())};
        }
        if (code != kIspEventArrival || report.count != 0)
            CallBack(report, false);
    }
}

void EventThread() {
    for (;;) {
        sched::WaitUntil("an event to deliver", [] { return g.stop || !g.events.empty(); });
        Report event{};
        {
            WorldLock lock;
            if (g.stop)
                return;
            if (g.events.empty())
                continue;
            event = g.events.front();
            g.events.pop_front();
            ++g.delivering;
        }
        // A rescan of the bus under the lock before it calls back.
        LockLibrary();
        for (uint32_t i = sched::Choose(4); i > 0; --i)
            sched::Seam("the library rescans");
        Deliver(event, true);
        UnlockLibrary();
    }
}

bool Attached(int device) {
    return std::find(g.attached.begin(), g.attached.end(), device) != g.attached.end();
}

// One call in three fails, when the seed says so.
bool Fails(bool enabled) {
    if (!enabled || sched::Choose(3) != 0)
        return false;
    WorldLock lock;
    return !g.failuresOff;
}
} // namespace

extern "C" {
int32_t Tamla_EnumDevices(IspDeviceInfo* devices, uint32_t maxCount) {
    EnterLibrary("Tamla_EnumDevices");
    sched::Seam("Tamla_EnumDevices");
    ReportInsideCall(1);
    const bool failed = Fails(g.scenario.failingSearches);
    int32_t count = 0;
    {
        WorldLock lock;
        // Writes up to maxCount records but counts every programmer, more
        // than 16 in a crowd; a failure writes nothing.
        std::vector<int> written;
        for (uint32_t i = 0; !failed && i < maxCount && i < g.attached.size(); ++i) {
            devices[i] = PoolDevice(g.attached[i]);
            written.push_back(g.attached[i]);
        }
        count = failed ? -1 - int32_t(sched::Choose(100)) : int32_t(g.attached.size());
        g.scans.push_back({sched::Now(), written, failed});
    }
    LeaveLibrary();
    sched::Seam("Tamla_EnumDevices returns " + std::to_string(count));
    return count;
}

int32_t Tamla_SetIspOption(IspOption* option) {
    EnterLibrary("Tamla_SetIspOption");
    sched::Seam("Tamla_SetIspOption");
    {
        WorldLock lock;
        g.callbackField = IspGetU32(*option, isp_option::kCallback);
    }
    ReportInsideCall(kIspEventArrival);
    LeaveLibrary();
    return 1;
}

int32_t Tamla_FlashProgramB(uint32_t deviceId, const uint8_t* image, uint32_t length, int32_t,
                            int32_t, int32_t, int32_t) {
    EnterLibrary("Tamla_FlashProgramB");
    sched::Seam("Tamla_FlashProgramB " + std::to_string(deviceId));
    if (image == nullptr || length != 0xF000)
        sched::Fail("a write without a whole image");
    size_t index = 0;
    {
        WorldLock lock;
        index = g.writes.size();
        g.writes.push_back({int(deviceId) - 1, sched::Now(), kOpen, sched::CurrentId(), 0});
    }
    for (uint32_t i = 2 + sched::Choose(4); i > 0; --i) {
        sched::Seam("writing");
        if (sched::Choose(4) == 0)
            ReportInsideCall(1);
    }
    int32_t result = 0;
    {
        WorldLock lock;
        result = Attached(g.writes[index].device) ? 1 : 0;
        g.writes[index].end = sched::Now();
        g.writes[index].result = result;
    }
    LeaveLibrary();
    return result;
}
}

// ---- The platform ------------------------------------------------------------

bool LoadFirmwarePayload(const uint8_t** data, uint32_t* size) {
    static const std::array<uint8_t, 256> payload = [] {
        std::array<uint8_t, 256> bytes{};
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7);
        return bytes;
    }();
    *data = payload.data();
    *size = uint32_t(payload.size());
    return true;
}

void WriteDebugOutput(const char* text) {
    sched::Seam("log");
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    WorldLock lock;
    g.lines.push_back({sched::Now(), sched::CurrentId(), line});
}

uint32_t CurrentThreadId() { return sched::CurrentId(); }

bool StartWorkerThread(uint32_t argument) {
    if (Fails(g.scenario.failingThreads)) {
        WorldLock lock;
        ++g.startFailures;
        return false;
    }
    {
        WorldLock lock;
        ++g.workersAlive;
    }
    sched::Spawn("worker", [argument] {
        RunWorkerJob(argument);
        WorldLock lock;
        --g.workersAlive;
    });
    return true;
}

void CoreMutex::lock() {
    sched::Seam("a core lock");
    if (sched::Controlled()) {
        sched::WaitUntil("a core lock", [this] {
            auto owner = g.coreOwners.find(this);
            return owner == g.coreOwners.end() || owner->second == 0;
        });
        g.coreOwners[this] = sched::CurrentId();
    }
    mutex_.lock();
}

void CoreMutex::unlock() {
    mutex_.unlock();
    if (sched::Controlled())
        g.coreOwners[this] = 0;
}

namespace {
// ---- The dialog ----------------------------------------------------------------

bool OnDialogThread() {
    WorldLock lock;
    return sched::CurrentId() == g.dialogThread;
}

void Post(std::string what, std::function<void()> work) {
    WorldLock lock;
    if (!g.destroyed)
        g.posted.push_back({std::move(what), std::move(work)});
}

// Escape or the posted close: the dialog ends when the core says it may.
void CloseDialog() {
    {
        WorldLock lock;
        if (g.closeStep == kOpen)
            g.closeStep = sched::Now();
    }
    const bool now = RequestClose();
    WorldLock lock;
    g.closeDecided = std::min(g.closeDecided, sched::Now());
    g.closeDeferred = g.closeDeferred || !now;
    g.destroyed = g.destroyed || now;
    if (g.destroyed)
        g.posted.clear();
}

// The fake dialog's controls, reached as the real dialog's are: an operation
// from another thread waits until the dialog's thread has done it; once the
// dialog is destroyed, it does nothing and answers 0.
class SimDialog final : public DialogAccess {
public:
    FakeDialog inner;

    bool IsChecked(int id) override {
        return Send("IsChecked", false, [&] { return inner.IsChecked(id); });
    }
    uint32_t ReadUnsigned(int id) override {
        return Send("ReadUnsigned", 0u, [&] { return inner.ReadUnsigned(id); });
    }
    int GetSelection(int id) override {
        return Send("GetSelection", -1, [&] { return inner.GetSelection(id); });
    }
    void SetText(int id, const char* text) override {
        Send("SetText", 0, [&] { return inner.SetText(id, text), 0; });
    }
    void Enable(int id, bool enabled) override {
        Send(enabled ? "Enable" : "Disable", 0, [&] { return inner.Enable(id, enabled), 0; });
    }
    void ClearList(int id) override {
        Send("ClearList", 0, [&] { return inner.ClearList(id), 0; });
    }
    void AddEntry(int id, const char* text) override {
        Send("AddEntry", 0, [&] { return inner.AddEntry(id, text), 0; });
    }
    void SelectEntry(int id, int index) override {
        Send("SelectEntry", 0, [&] { return inner.SelectEntry(id, index), 0; });
    }
    void AppendText(int id, const char* text) override {
        Send("AppendText", 0, [&] { return inner.AppendText(id, text), 0; });
    }
    void PostClick(int id) override {
        sched::Seam("PostClick " + std::to_string(id));
        {
            WorldLock lock;
            if (id != kCloseCommandId && sched::Now() > g.closeDecided)
                sched::Fail("a click on " + std::to_string(id) + " posted to a closing dialog");
        }
        inner.PostClick(id);
        Post("the posted click of " + std::to_string(id), [id] {
            if (id == kCloseCommandId)
                CloseDialog();
            else
                HandleDialogCommand(id, 0);
        });
    }

private:
    template <typename Result, typename Operation>
    Result Send(const char* what, Result fallback, Operation operation) {
        sched::Seam(std::string("dialog ") + what);
        if (OnDialogThread()) {
            WorldLock lock;
            return g.destroyed ? fallback : operation();
        }
        Result result = fallback;
        SentOp op{[&] { result = operation(); }};
        {
            WorldLock lock;
            if (g.destroyed)
                return fallback;
            g.sent.push_back(&op);
        }
        sched::WaitUntil(std::string("the dialog to do ") + what,
                         [&op] { return op.done || g.destroyed; });
        WorldLock lock;
        return op.done ? result : fallback;
    }
};

void DialogThread() {
    {
        WorldLock lock;
        g.dialogThread = sched::CurrentId();
    }
    for (;;) {
        sched::WaitUntil("a message", [] {
            return g.stop || !g.sent.empty() || (!g.destroyed && !g.posted.empty());
        });
        SentOp* op = nullptr;
        std::pair<std::string, std::function<void()>> posted;
        {
            WorldLock lock;
            if (g.stop)
                return;
            if (!g.sent.empty()) {
                op = g.sent.front();
                g.sent.pop_front();
                // Sent to a destroyed window: its sender has had its answer.
                if (g.destroyed)
                    continue;
            } else if (!g.destroyed && !g.posted.empty()) {
                posted = std::move(g.posted.front());
                g.posted.pop_front();
            } else {
                continue;
            }
            g.dialogBusy = true;
        }
        if (op != nullptr) {
            op->work();
            WorldLock lock;
            op->done = true;
        } else {
            sched::Seam(posted.first);
            posted.second();
        }
        WorldLock lock;
        g.dialogBusy = false;
    }
}

// ---- The user ------------------------------------------------------------------

enum Action {
    kPlug,
    kPlugTwo,
    kUnplug,
    kConfigure,
    kSelect,
    kFind,
    kRegister,
    kSessionEnd,
    kClose,
    kPause
};
const char* const kActionNames[] = {
    "plug",   "plug two", "unplug",   "configure",
    "select", "find",     "register", "session end asked and called off",
    "close",  "pause"};

// Under WorldLock: queues a report for the event threads.
void QueueReport(const Report& report) {
    g.events.push_back(report);
    ++g.requests;
}

void Attach(const std::vector<int>& devices) {
    WorldLock lock;
    Report report{kIspEventArrival, 0, 0};
    for (int k : devices) {
        report.mask |= 1u << g.attached.size();
        g.stays[k].push_back({sched::Now(), kOpen, g.attached.size() < kDeviceSlots});
        g.attached.push_back(k);
    }
    report.count = uint32_t(g.attached.size());
    QueueReport(report);
    g.log.push_back("  plug " + std::to_string(devices.size()) + ": " + Describe(report));
}

// One or two programmers not attached now: mostly new ones, sometimes one
// that was attached before.
std::vector<int> Unplugged(size_t want) {
    std::vector<int> free;
    {
        WorldLock lock;
        for (int k = 0; k < kPool; ++k)
            if (!Attached(k))
                free.push_back(k);
    }
    std::vector<int> chosen;
    while (chosen.size() < want && !free.empty()) {
        const size_t i = sched::Choose(uint32_t(free.size()));
        chosen.push_back(free[i]);
        free.erase(free.begin() + long(i));
    }
    return chosen;
}

void Unplug() {
    const uint32_t n = [] {
        WorldLock lock;
        return uint32_t(g.attached.size());
    }();
    if (n == 0)
        return;
    const uint32_t slot = sched::Choose(n);
    WorldLock lock;
    const int k = g.attached[slot];
    g.attached.erase(g.attached.begin() + slot);
    g.stays[k].back().to = sched::Now();
    const Report report{2, 1u << slot, uint32_t(g.attached.size())};
    QueueReport(report);
    g.log.push_back("  unplug: " + Describe(report));
}

// A press of a button, as a user makes it: only while it is enabled.
void PressButton(int id) {
    if (!g_dialog->inner.Get(id).enabled)
        return;
    if (id == IDC_CONFIGURE) {
        const FakeDialog::Control list = g_dialog->inner.Get(IDC_DEVICE_LIST);
        const bool selected = list.selection >= 0 && size_t(list.selection) < list.entries.size();
        WorldLock lock;
        g.presses.push_back({sched::Now(),
                             selected ? DeviceOfLabel(list.entries[size_t(list.selection)]) : -1,
                             list.selection});
    } else {
        WorldLock lock;
        ++g.requests;
    }
    HandleDialogCommand(id, 0);
}

void Act(Action action) {
    {
        WorldLock lock;
        g.log.push_back(kActionNames[action]);
    }
    switch (action) {
    case kPlug:
    case kPlugTwo: {
        const std::vector<int> devices = Unplugged(action == kPlug ? 1 : 2);
        if (!devices.empty())
            Attach(devices);
        break;
    }
    case kUnplug:
        Unplug();
        break;
    case kConfigure:
        Post("a press of configure", [] { PressButton(IDC_CONFIGURE); });
        break;
    case kFind:
        Post("a press of find devices", [] { PressButton(IDC_FIND_DEVICES); });
        break;
    case kSelect:
        Post("a selection", [] {
            const size_t entries = g_dialog->inner.Get(IDC_DEVICE_LIST).entries.size();
            g_dialog->inner.Choose(IDC_DEVICE_LIST, int(sched::Choose(uint32_t(entries + 1))) - 1);
            HandleDialogCommand(IDC_DEVICE_LIST, kListSelectionChanged);
        });
        break;
    case kRegister:
        Post("a registration", [] {
            {
                WorldLock lock;
                ++g.requests;
            }
            HandleDialogCommand(IDC_PLUG_NOTIFY, 0);
        });
        break;
    case kSessionEnd:
        // Windows asks whether the session may end, and another program
        // then calls it off.
        Post("a session end asked for", [] {
            if (!MaySessionEnd())
                return;
            WorldLock lock;
            g.sessionEnding = std::min(g.sessionEnding, sched::Now());
        });
        // Another program calls it off a few actions later.
        g.callOffIn = 1 + int(sched::Choose(3));
        break;
    case kClose:
        Post("a close", CloseDialog);
        break;
    case kPause:
        for (int i = 0; i < 4; ++i)
            sched::Seam("the user waits");
        break;
    }
}

bool Quiet() {
    return g.userDone && g.workersAlive == 0 && g.events.empty() && g.delivering == 0 &&
           g.sent.empty() && (g.destroyed || g.posted.empty()) && !g.dialogBusy;
}

Scenario MakeScenario(uint64_t seed) {
    std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + 1);
    Scenario s;
    s.insideCalls = random() % 2 == 0;
    s.underLock = random() % 3 == 0;
    s.autoDownload = random() % 2 == 0;
    s.eventThreads = 1 + int(random() % 2);
    s.attachedAtStart = int(random() % 4);
    s.waitForStartUp = random() % 4 != 0;
    s.patience = 1 + uint32_t(random() % 80);
    s.failingSearches = random() % 4 == 0;
    s.failingThreads = random() % 5 == 0;
    s.crowd = random() % 6 == 0;
    if (s.crowd)
        s.attachedAtStart = 14 + int(random() % 5);
    const int weights[] = {6, 3, 5, 4, 2, 2, 1, 1, 0, 2}; // by Action; a close is placed below
    for (int n = 8 + int(random() % 17); n > 0; --n) {
        int pick = int(random() % 26);
        int action = 0;
        while (pick >= weights[action])
            pick -= weights[action++];
        s.actions.push_back(action);
    }
    // One seed in four closes the tool somewhere along the way.
    if (random() % 4 == 0)
        s.actions.insert(s.actions.begin() + long(random() % s.actions.size()), kClose);
    return s;
}

// ---- The rules -----------------------------------------------------------------

// The last search before step; only those that succeeded, when asked.
const Scan* LastScanBefore(uint64_t step, bool succeeded) {
    const Scan* last = nullptr;
    for (const Scan& scan : g.scans)
        if (scan.step < step && !(succeeded && scan.failed))
            last = &scan;
    return last;
}

bool Holds(const Scan* scan, int device) {
    return scan != nullptr &&
           std::find(scan->devices.begin(), scan->devices.end(), device) != scan->devices.end();
}

// "<label> tail" -> the programmer, or -1.
int DeviceOfLine(const std::string& line, const std::string& tail) {
    if (!StartsWith(line, "<") || !EndsWith(line, "> " + tail))
        return -1;
    return DeviceOfLabel(line.substr(1, line.size() - tail.size() - 3));
}

// "<text>(N)<rest>" -> N, or -1.
int IndexOfLine(const std::string& line, const std::string& text) {
    return StartsWith(line, text + "(") ? std::atoi(line.c_str() + text.size() + 1) : -1;
}

constexpr const char* kRemoved = "removed before config";
constexpr const char* kSessionEnding = "not configured: the session is ending";
constexpr const char* kNoConfigureThread = "Cannot start a thread to configure device index";

// Every search ends: once the user and the library's own threads are done,
// the tool makes a bounded number of calls and rests (a run that never rests
// fails on the step budget).
void CheckSearchesEnd() {
    // Each request may cost a search and one more if it came during one;
    // each write one for the event it deferred and one before the next run.
    const size_t allowed = 2 + 2 * (g.requests + g.writes.size());
    if (g.scans.size() > allowed)
        sched::Fail(std::to_string(g.scans.size()) + " searches for " + std::to_string(g.requests) +
                    " requests and " + std::to_string(g.writes.size()) + " writes");
}

// Once the close is decided nothing reaches the library, beyond the write
// whose end the close waits for. The tool checks for a close just before each
// call; on free threads a call that passed that check an instant before the
// close may enter the library an instant after it, so only the controlled
// schedule, where the check and the call are one step, orders the two.
void CheckCallsAfterClose() {
    if (!sched::Controlled())
        return;
    size_t writes = 0;
    for (const Call& call : g.calls) {
        if (call.step < g.closeDecided)
            continue;
        if (call.name != "Tamla_FlashProgramB" || !g.closeDeferred || ++writes > 1)
            sched::Fail(call.name + " called at step " + std::to_string(call.step) +
                        ", after the close");
    }
}

// The times a programmer became one the tool had not seen: in a search that
// succeeded, not in the one that succeeded before. Arrivals can be no more.
size_t TimesNew(int k) {
    size_t times = 0;
    const Scan* previous = nullptr;
    for (const Scan& scan : g.scans) {
        if (scan.failed)
            continue;
        times += previous != nullptr && Holds(&scan, k) && !Holds(previous, k) ? 1 : 0;
        previous = &scan;
    }
    return times;
}

// The arrivals of k the tool must write: a stay from after the first search
// that succeeded, in one of the slots searches read, still there at the end,
// and gone from the last search before it (one that leaves and comes back
// between two searches cannot be told from one that stayed).
size_t ArrivalsDue(int k) {
    const Scan* first = nullptr;
    for (const Scan& scan : g.scans)
        if (!scan.failed) {
            first = &scan;
            break;
        }
    size_t due = 0;
    for (const Stay& stay : g.stays[k])
        due += first != nullptr && stay.from > first->step && stay.to == kOpen && stay.seen &&
                       !Holds(LastScanBefore(stay.from, true), k)
                   ? 1
                   : 0;
    return due;
}

// Writes: to attached programmers the tool knows of, and for each programmer
// as many as its presses and arrivals call for.
void CheckWrites() {
    const Write* previous = nullptr;
    for (const Write& write : g.writes) {
        if (write.device < 0 || write.device >= kPool)
            sched::Fail("a write to an unknown device id");
        if (!Holds(LastScanBefore(write.start, true), write.device))
            sched::Fail("wrote " + Label(write.device) + ", which the last search did not find");
        // An event reported wholly after the last search and before the
        // previous write ended asks for a search before the next write.
        const Scan* searched = LastScanBefore(write.start, false);
        for (const EventSeen& e : g.seen)
            if (previous != nullptr && e.entered > searched->step && e.returned < previous->end)
                sched::Fail("wrote " + Label(write.device) + " at step " +
                            std::to_string(write.start) + " without searching after the event " +
                            Describe(e.report) + " of step " + std::to_string(e.entered));
        previous = &write;
    }
    const bool closed = g.closeStep != kOpen;
    for (int k = 0; k < kPool; ++k) {
        size_t presses = 0;
        size_t outcomes = 0; // writes and lines that say why not
        for (const Press& press : g.presses)
            presses += press.device == k ? 1 : 0;
        for (const Write& write : g.writes)
            outcomes += write.device == k ? 1 : 0;
        for (const Line& line : g.lines)
            outcomes += DeviceOfLine(line.text, kRemoved) == k ||
                                DeviceOfLine(line.text, kSessionEnding) == k
                            ? 1
                            : 0;
        const size_t arrivals = g.scenario.autoDownload ? TimesNew(k) : 0;
        const size_t due = g.scenario.autoDownload && !closed ? ArrivalsDue(k) : 0;
        if (outcomes < due || outcomes > arrivals + presses)
            sched::Fail(Label(k) + ": " + std::to_string(outcomes) + " writes and lines for " +
                        std::to_string(presses) + " presses and " + std::to_string(arrivals) +
                        " arrivals (" + std::to_string(due) + " due)");
    }
}

// Each press of configure ends in a write of the device it named or a line
// saying why, after the press; each write or line answers one press (or an
// arrival). Unless the tool closed, which ends runs without a trace.
void CheckPresses() {
    if (g.closeStep != kOpen)
        return;
    std::vector<bool> used(g.writes.size() + g.lines.size());
    for (const Press& press : g.presses) {
        if (press.device < 0)
            continue;
        size_t best = used.size();
        uint64_t bestStep = kOpen;
        for (size_t i = 0; i < g.writes.size(); ++i)
            if (!used[i] && g.writes[i].device == press.device && g.writes[i].start > press.step &&
                g.writes[i].start < bestStep)
                best = i, bestStep = g.writes[i].start;
        for (size_t i = 0; i < g.lines.size(); ++i) {
            const Line& line = g.lines[i];
            const bool says = DeviceOfLine(line.text, kRemoved) == press.device ||
                              DeviceOfLine(line.text, kSessionEnding) == press.device ||
                              IndexOfLine(line.text, kNoConfigureThread) == press.entry;
            if (!used[g.writes.size() + i] && says && line.step > press.step &&
                line.step < bestStep)
                best = g.writes.size() + i, bestStep = line.step;
        }
        if (best == used.size())
            sched::Fail("the press of configure at step " + std::to_string(press.step) + " on " +
                        Label(press.device) + " ended in no write and no line");
        used[best] = true;
    }
}

// Every line is one of the tool's, and true of what it names.
void CheckLines() {
    size_t emptyPresses = 0;
    for (const Press& press : g.presses)
        emptyPresses += press.device < 0 ? 1 : 0;
    size_t selectFirst = 0;
    for (const Line& line : g.lines) {
        const std::string& t = line.text;
        const Write* before = nullptr; // this thread's last write before the line
        const Write* after = nullptr;  // ... and its first after it
        for (const Write& write : g.writes) {
            if (write.thread != line.thread)
                continue;
            if (write.end < line.step)
                before = &write;
            else if (write.start > line.step && after == nullptr)
                after = &write;
        }
        const Scan* scan = LastScanBefore(line.step, false);
        bool ok = false;
        if (t == "Set isp option succ") {
            ok = true;
        } else if (t == "请先选择配置设备或者当前没有找到配置设备.") {
            ok = ++selectFirst <= emptyPresses;
        } else if (t == "Not found isp device") {
            ok = scan != nullptr && !scan->failed && scan->devices.empty();
        } else if (StartsWith(t, "Search for devices failed (")) {
            ok = scan != nullptr && scan->failed;
        } else if (StartsWith(t, "Cannot start a thread to ")) {
            ok = g.startFailures != 0;
        } else if (t == "A device is being written; the tool will close when the write ends.") {
            // A write had passed the close guard: it ends after the line, or
            // ended just before, its run still reporting (no search since).
            const Write* last = nullptr;
            for (const Write& write : g.writes) {
                ok = ok || write.end > line.step;
                last = write.end < line.step ? &write : last;
            }
            ok = ok || (last != nullptr && (scan == nullptr || scan->step < last->end));
        } else if (const int slot = IndexOfLine(t, "Invalid device index"); slot >= 0) {
            for (const EventSeen& e : g.seen)
                ok = ok || (e.report.code == kIspEventArrival && slot < 16 &&
                            (e.report.mask >> slot & 1u) != 0 && uint32_t(slot) >= e.report.count);
        } else if (const int begun = DeviceOfLine(t, "begin config..."); begun >= 0) {
            ok = after != nullptr && after->device == begun;
        } else if (const int done = DeviceOfLine(t, "config succ"); done >= 0) {
            ok = before != nullptr && before->device == done && before->result != 0;
        } else if (const int failed = DeviceOfLine(t, "config failure."); failed >= 0) {
            ok = before != nullptr && before->device == failed && before->result == 0;
        } else if (const int gone = DeviceOfLine(t, kRemoved); gone >= 0) {
            ok = !Holds(LastScanBefore(line.step, true), gone);
        } else if (DeviceOfLine(t, kSessionEnding) >= 0) {
            ok = g.sessionEnding < line.step;
        }
        if (!ok)
            sched::Fail("an untrue or unknown line at step " + std::to_string(line.step) + ": " +
                        t);
    }
    if (selectFirst != emptyPresses)
        sched::Fail("a press with nothing selected was not answered");
}

// At rest: the list shows what is attached (the first 16), both buttons are
// enabled and no work is marked going on.
void CheckAtRest() {
    if (WorkInProgress() || RunInProgress())
        sched::Fail("work still marked going on at rest");
    if (g.destroyed)
        return;
    if (RequestPending())
        sched::Fail("a request left waiting at rest");
    std::vector<std::string> expected;
    for (size_t i = 0; i < g.attached.size() && i < kDeviceSlots; ++i)
        expected.push_back(Label(g.attached[i]));
    if (g_dialog->inner.Get(IDC_DEVICE_LIST).entries != expected)
        sched::Fail("the list does not show the attached devices");
    if (!g_dialog->inner.Get(IDC_FIND_DEVICES).enabled ||
        !g_dialog->inner.Get(IDC_CONFIGURE).enabled)
        sched::Fail("a button left disabled");
}

std::string Context() {
    std::string text = "-- the user's actions and the library's reports:\n";
    for (const std::string& entry : g.log)
        text += "  " + entry + "\n";
    text += "-- log lines:\n";
    for (const Line& line : g.lines)
        text += "  " + std::to_string(line.step) + " T" + std::to_string(line.thread) + ": " +
                line.text + "\n";
    return text;
}

struct Totals {
    size_t writes = 0, arrivals = 0, deferred = 0, inside = 0, closes = 0, failedSearches = 0,
           failedStarts = 0, sessionEnds = 0;
};

void RunSeed(uint64_t seed, sched::Mode mode, bool show, Totals& totals) {
    g = World{};
    g.scenario = MakeScenario(seed);
    const Scenario& s = g.scenario;
    char switches[300];
    std::snprintf(switches, sizeof(switches),
                  "switches: callbacks inside calls %s, under the library's lock %s, automatic "
                  "download %s, %d event thread(s), %d attached at start, patience %u, failing "
                  "searches %s, failing thread starts %s",
                  s.insideCalls ? "on" : "off", s.underLock ? "on" : "off",
                  s.autoDownload ? "on" : "off", s.eventThreads, s.attachedAtStart, s.patience,
                  s.failingSearches ? "on" : "off", s.failingThreads ? "on" : "off");
    g.log.push_back(switches);
    for (int k = 0; k < s.attachedAtStart; ++k) {
        g.stays[k].push_back({0, kOpen, g.attached.size() < kDeviceSlots});
        g.attached.push_back(k);
    }
    ResetSharedState();
    g_dialog = std::make_unique<SimDialog>();
    g_dialog->inner.Choose(IDC_PORT_SELECT, 0);
    g_dialog->inner.SetChecked(IDC_PLUG_NOTIFY, true);
    g_dialog->inner.SetChecked(IDC_AUTO_DOWNLOAD, s.autoDownload);
    SetDialogAccess(g_dialog.get());

    sched::Begin(mode, seed, 200000);
    sched::Spawn("dialog", DialogThread);
    for (int i = 0; i < s.eventThreads; ++i)
        sched::Spawn("library events", EventThread);
    Post("the start-up", [] {
        HandleDialogCommand(IDC_SET_ISP_OPTION, 0);
        HandleDialogCommand(IDC_FIND_DEVICES, 0);
    });
    // Most users wait for the window to list what is attached before they
    // act; some plug and press at once.
    if (s.waitForStartUp)
        sched::WaitUntil("the first search",
                         [] { return !g.scans.empty() || g.startFailures != 0; });
    for (int action : s.actions) {
        sched::Seam("the user acts");
        Act(Action(action));
        if (g.callOffIn > 0 && --g.callOffIn == 0)
            Post("the session end called off", SessionEndCalledOff);
        // A user takes a while between two actions, the tool's threads run
        // meanwhile.
        for (uint32_t i = sched::Choose(s.patience); i > 0; --i)
            sched::Seam("the user waits");
    }
    if (g.callOffIn > 0)
        Post("the session end called off", SessionEndCalledOff);
    {
        WorldLock lock;
        g.userDone = true;
    }
    sched::WaitUntil("rest", Quiet);
    // After failed searches or thread starts, the user presses find devices
    // once more, and this time nothing fails.
    if ((s.failingSearches || s.failingThreads) && !g.destroyed) {
        {
            WorldLock lock;
            g.failuresOff = true;
            g.log.push_back("find, with nothing failing");
        }
        Post("the last press of find devices", [] { PressButton(IDC_FIND_DEVICES); });
        sched::WaitUntil("rest after the last press", Quiet);
    }
    CheckSearchesEnd();
    CheckCallsAfterClose();
    CheckWrites();
    CheckPresses();
    CheckLines();
    CheckAtRest();
    sched::End([] { g.stop = true; });
    SetDialogAccess(nullptr);
    if (show)
        std::printf("seed %llu passed\n%s-- the schedule:\n%s",
                    static_cast<unsigned long long>(seed), Context().c_str(),
                    sched::TraceText().c_str());

    totals.writes += g.writes.size();
    totals.closes += g.closeStep != kOpen ? 1 : 0;
    for (const EventSeen& e : g.seen) {
        totals.inside += e.async ? 0 : 1;
        totals.arrivals += e.async && e.report.code == kIspEventArrival ? 1 : 0;
    }
    totals.deferred += g_dialog->inner.PostedClicks().size();
    totals.failedStarts += g.startFailures;
    totals.sessionEnds += g.sessionEnding != kOpen ? 1 : 0;
    for (const Scan& scan : g.scans)
        totals.failedSearches += scan.failed ? 1 : 0;
}
} // namespace

int main(int argc, char** argv) {
    uint64_t first = 1;
    uint64_t seeds = 300;
    sched::Mode mode = sched::Mode::Controlled;
    bool show = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--first" && i + 1 < argc)
            first = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seeds" && i + 1 < argc)
            seeds = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seed" && i + 1 < argc)
            first = std::strtoull(argv[++i], nullptr, 10), seeds = 1;
        else if (arg == "--free")
            mode = sched::Mode::Free;
        else if (arg == "--trace")
            sched::SetFullTrace(true);
        else if (arg == "--show")
            show = true;
        else {
            std::fprintf(stderr,
                         "usage: schedule_simulation [--first S] [--seeds N] [--seed S] [--free] "
                         "[--trace] [--show]\n");
            return 2;
        }
    }
    sched::SetFailureContext(Context);
    Totals totals;
    for (uint64_t seed = first; seed < first + seeds; ++seed)
        RunSeed(seed, mode, show, totals);
    std::printf("schedule simulation (%s): seeds %llu..%llu passed: %zu writes, %zu arrivals "
                "reported by the library's threads, %zu reports inside its calls, %zu clicks "
                "posted by the core, %zu closes, %zu failed searches, %zu thread starts failed, "
                "%zu session ends allowed and called off\n",
                mode == sched::Mode::Controlled ? "controlled" : "free threads",
                static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(first + seeds - 1), totals.writes, totals.arrivals,
                totals.inside, totals.deferred, totals.closes, totals.failedSearches,
                totals.failedStarts, totals.sessionEnds);
    return 0;
}
