// Registrations, searches, device events and configuration runs.
//
// The work is of three kinds: a registration (the option record handed to
// the library), a search (the library asked, then the device table and the
// list refilled) and a run (one device written). Each calls into the
// library, which need not be thread-safe and may call back on threads of its
// own, from inside its calls, and under a lock of its own that its exports
// take; searches and runs also use the table and the list, and a run the one
// image buffer. So one thread at a time does all of it, "the thread at
// work", and no other thread ever calls into the library. The rules:
//
// 1. Nobody waits for another thread. Whoever asks for work while no thread
//    is at work becomes the thread at work: it does its own work and all work
//    asked for meanwhile, and gives the role up in the same locked step that
//    finds nothing left, so it never leaves a request behind. Anyone
//    else records the request and returns at once. So when the library calls
//    back on two threads at once, one of them does the work and the other
//    returns at once, and a callback the library makes while holding its own
//    lock never waits for a thread that waits for that lock.
// 2. The dialog's thread is never the thread at work and never calls into
//    the library: it would hang on a library that holds its lock while its
//    callback sends to the dialog. The dialog's requests (registrations,
//    searches, presses of configure) and events reported on its thread are
//    recorded, and it starts one worker thread for them when no thread is at
//    work or already coming. If none can start, that is said in the log and
//    nothing waits for it: the presses waiting are dropped, and searches and
//    registrations are left for the next thread at work.
// 3. Registrations go first, in the order asked, then searches, then runs.
//    So find devices registers before it searches, the start-up's outcome
//    line comes before the first search's lines, and a run starts only when
//    no search is asked for: its table is newer than every device event
//    recorded before it began.
// 4. A device event asks for a search, except one reported on the thread at
//    work from inside its own Tamla_EnumDevices call: the library reports
//    there what that call's answer already holds, so the call answers it, and
//    a library that calls back inside every search cannot keep the tool
//    searching. A search answers every request recorded before its library
//    call starts; one recorded later asks for one more search. Events
//    reported inside a registration or a write, on the thread at work, are
//    recorded like any other.
// 5. An event during a run is deferred: the run's end posts a click on find
//    devices (unless the tool is closing), which registers the options again
//    and searches. The thread at work leaves that search to the click, unless
//    a run is waiting (rule 3) or another request comes first.
//    Once a close is decided, work still asked for is dropped unseen and no
//    library call starts (close_guard.h), beyond the write in progress.
// 6. A run writes a device named by its id and unique id and found in the
//    table when the run starts: the device whose entry was selected at the
//    press, or a device an arrival brought. A device the table no longer
//    holds gets "<label> removed before config" and no write.
// 7. Arrivals, with automatic download. An event's mask names slots of the
//    library's table at that moment, which later changes shift, so arrived
//    devices are found by identity: each device a search finds that the
//    search before it did not is new. New devices wait, as long as searches
//    still find them, for an arrival to be reported; the first search that
//    answers an arrival queues one run for each device waiting, in slot
//    order. So a device that arrives during a run is written after it, and
//    one a search finds before its arrival is reported is written too.
//    Devices found by the first search, or while automatic download is off,
//    are not new. Events do not name devices, so a device that leaves and
//    comes back between two searches cannot be told from one that stayed.
// 8. A search the library fails (a negative result) changes nothing: the
//    table, the list and the devices waiting stay as they were, and the
//    arrival it was to answer waits for the next search that succeeds.
//
// Lock: CoordinationLock, a leaf lock around the state below, held for a few
// flag updates or a copy, never across a library call, a dialog access or a
// log line.
#include "device_coordination.h"

#include "close_guard.h"
#include "config_run.h"
#include "core_mutex.h"
#include "device_discovery.h"
#include "isp_api.h"
#include "isp_options.h"
#include "log.h"
#include "platform.h"
#include "resource.h"
#include "shared_state.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {
using Registration = DialogRequest::Registration;

// Presses and arrivals waiting for their runs: one search queues at most 32
// (16 arrived devices and 16 slot numbers that named none); buttons are
// disabled while a run writes, so presses rarely pile up.
constexpr size_t kRunQueueSize = 32;
// Registrations waiting. Each reads the option boxes when it is made, so one
// asked while the last one queued has not begun registers the same record:
// it joins that one when both log the same, or when the queue is full. So
// presses in quick succession cannot keep the thread at work registering
// while their searches wait.
constexpr size_t kRegistrationQueueSize = 8;

CoreMutex CoordinationLock;
bool Working = false;      // a thread is at work
bool WorkerComing = false; // ... or a worker started for it from the dialog's thread
std::array<Registration, kRegistrationQueueSize> RegistrationQueue{};
size_t RegistrationHead = 0;
size_t RegistrationCount = 0;
bool SearchAsked = false;  // a search is due
bool ArrivalAsked = false; // ... and answers an arrival
uint32_t InvalidAsked = 0; // arrival bits that named no device
bool InsideEnum = false;   // the thread at work is inside Tamla_EnumDevices
uint32_t EnumThread = 0;   // ... on this thread
bool ArrivalInsideEnum = false;
uint32_t InvalidInsideEnum = 0;
bool Running = false;        // a run is going on
bool ClickAsked = false;     // an event came during it
bool SearchForClick = false; // the search asked for is left to the click posted
std::array<RunRequest, kRunQueueSize> RunQueue{};
size_t QueueHead = 0;
size_t QueueLength = 0;

// Only the thread at work touches these; the role, and with it the state,
// passes between threads under CoordinationLock.
std::array<IspDeviceInfo, kDeviceSlots> Waiting{}; // new devices waiting for an arrival
size_t WaitingCount = 0;
bool Searched = false; // a search has succeeded

thread_local bool t_dialogThread = false;

enum class Role { None, Work, StartWorker };

// Under CoordinationLock: what the caller does about the work now recorded.
Role TakeRoleLocked() {
    if (Working)
        return Role::None;
    if (t_dialogThread) {
        // One worker for everything the dialog asks until it comes.
        if (WorkerComing)
            return Role::None;
        WorkerComing = true;
        return Role::StartWorker;
    }
    Working = true;
    WorkerComing = false;
    return Role::Work;
}

// Under CoordinationLock. Queues what fits, in order; returns how many did.
size_t QueueLocked(const RunRequest* requests, size_t count) {
    size_t taken = 0;
    for (; taken < count && QueueLength < kRunQueueSize; ++taken) {
        RunQueue[(QueueHead + QueueLength) % kRunQueueSize] = requests[taken];
        ++QueueLength;
    }
    return taken;
}

void LogRefused(const RunRequest* requests, size_t from, size_t count) {
    for (size_t i = from; i < count; ++i)
        LogPrintf("Too many configuration requests waiting; device index(%d) not configured",
                  static_cast<int>(requests[i].slot));
}

void Queue(const RunRequest* requests, size_t count) {
    size_t queued = 0;
    {
        CoreLock lock(CoordinationLock);
        queued = QueueLocked(requests, count);
    }
    LogRefused(requests, queued, count);
}

// Under CoordinationLock.
void QueueRegistrationLocked(Registration kind) {
    if (RegistrationCount != 0) {
        Registration& last =
            RegistrationQueue[(RegistrationHead + RegistrationCount - 1) % kRegistrationQueueSize];
        if (last == kind || RegistrationCount == kRegistrationQueueSize) {
            if (kind == Registration::LogEither)
                last = kind;
            return;
        }
    }
    RegistrationQueue[(RegistrationHead + RegistrationCount) % kRegistrationQueueSize] = kind;
    ++RegistrationCount;
}

// The run for a slot as the table stands now: the device in it, or the
// slot's number when it holds none.
RunRequest PressedRequest(uint32_t slot) {
    RunRequest request{RunRequest::Kind::Pressed, slot, {}};
    if (!CopyValidSlot(slot, &request.device))
        request.kind = RunRequest::Kind::NoDevice;
    return request;
}

// The dialog's thread could start no worker for a request. Unless a thread
// took the work meanwhile, the presses waiting are dropped, each with a line
// (a write the user was told of must not come later by surprise); a search
// or registration is said and left for the next thread at work, as it may
// answer a device event.
void NoWorker(bool search, bool registration) {
    std::array<RunRequest, kRunQueueSize> presses{};
    size_t count = 0;
    {
        CoreLock lock(CoordinationLock);
        WorkerComing = false;
        if (Working)
            return;
        for (; QueueLength != 0; --QueueLength) {
            presses[count++] = RunQueue[QueueHead];
            QueueHead = (QueueHead + 1) % kRunQueueSize;
        }
    }
    for (size_t i = 0; i < count; ++i)
        LogPrintf("Cannot start a thread to configure device index(%d)",
                  static_cast<int>(presses[i].slot));
    if (search)
        LogPrintf("Cannot start a thread to search for devices");
    else if (registration)
        LogPrintf("Cannot start a thread to register the options");
}

enum class Step { Register, Search, Run, Done };

Step NextStep(Registration* registration, RunRequest* run) {
    // Once the tool is closing, work still asked for is dropped unseen.
    const bool closing = CloseDecided();
    CoreLock lock(CoordinationLock);
    if (closing) {
        SearchAsked = ArrivalAsked = SearchForClick = false;
        InvalidAsked = 0;
        QueueLength = RegistrationCount = 0;
        Working = false;
        return Step::Done;
    }
    if (RegistrationCount != 0) {
        *registration = RegistrationQueue[RegistrationHead];
        RegistrationHead = (RegistrationHead + 1) % kRegistrationQueueSize;
        --RegistrationCount;
        return Step::Register;
    }
    if (SearchAsked && !(SearchForClick && QueueLength == 0))
        return Step::Search;
    if (QueueLength != 0) {
        *run = RunQueue[QueueHead];
        QueueHead = (QueueHead + 1) % kRunQueueSize;
        --QueueLength;
        Running = true;
        return Step::Run;
    }
    Working = false;
    return Step::Done;
}

struct SearchAnswer {
    std::array<IspDeviceInfo, kDeviceSlots> found;
    int32_t result; // as the library said; negative: the search failed
    bool arrival;   // the search answers an arrival
    uint32_t invalid;
};

// Asks the library, answering every request recorded so far and every report
// made on this thread inside the call. False, with no call made, once a
// close is decided.
bool AskLibrary(SearchAnswer& answer) {
    {
        CoreLock lock(CoordinationLock);
        SearchAsked = SearchForClick = false;
        answer.arrival = std::exchange(ArrivalAsked, false);
        answer.invalid = std::exchange(InvalidAsked, 0u);
        InsideEnum = true;
        EnumThread = CurrentThreadId();
    }
    // Room beyond the 16 records asked for: a library that writes past
    // maxCount spoils nothing of the tool's.
    std::array<IspDeviceInfo, kIspSearchRecords> records{};
    const bool called = !CloseDecided();
    answer.result = called ? Tamla_EnumDevices(records.data(), kDeviceSlots) : 0;
    std::copy_n(records.begin(), kDeviceSlots, answer.found.begin());
    CoreLock lock(CoordinationLock);
    InsideEnum = false;
    answer.arrival |= std::exchange(ArrivalInsideEnum, false);
    answer.invalid |= std::exchange(InvalidInsideEnum, 0u);
    return called;
}

// A failed search answered nothing: its arrival waits for the next search.
void KeepForNextSearch(const SearchAnswer& answer) {
    CoreLock lock(CoordinationLock);
    ArrivalAsked |= answer.arrival;
    InvalidAsked |= answer.invalid;
}

bool Holds(const IspDeviceInfo* devices, size_t count, const IspDeviceInfo& device) {
    return std::any_of(devices, devices + count,
                       [&](const IspDeviceInfo& d) { return SameDevice(d, device); });
}

// Brings the devices waiting for an arrival up to date with a search, and
// queues their runs when the search answers an arrival.
void QueueArrivals(const std::array<IspDeviceInfo, kDeviceSlots>& before, uint32_t beforeCount,
                   const SearchAnswer& answer) {
    const uint32_t count = std::min(static_cast<uint32_t>(answer.result), kDeviceSlots);
    std::array<IspDeviceInfo, kDeviceSlots> waiting{};
    std::array<uint32_t, kDeviceSlots> slots{};
    size_t waitingCount = 0;
    for (uint32_t slot = 0; slot < count; ++slot) {
        const IspDeviceInfo& device = answer.found[slot];
        const bool isNew = Searched && !Holds(before.data(), beforeCount, device);
        if ((isNew || Holds(Waiting.data(), WaitingCount, device)) &&
            !Holds(waiting.data(), waitingCount, device)) {
            slots[waitingCount] = slot;
            waiting[waitingCount++] = device;
        }
    }
    Searched = true;
    if (AutoDownload.load() == 0)
        waitingCount = 0;
    if (!answer.arrival) {
        Waiting = waiting;
        WaitingCount = waitingCount;
        return;
    }
    WaitingCount = 0;
    std::array<RunRequest, 2 * kDeviceSlots> runs{};
    size_t n = 0;
    for (size_t i = 0; i < waitingCount; ++i)
        runs[n++] = {RunRequest::Kind::Arrival, slots[i], waiting[i]};
    for (uint32_t slot = 0; slot < kDeviceSlots; ++slot)
        if ((answer.invalid & (1u << slot)) != 0)
            runs[n++] = {RunRequest::Kind::NoDevice, slot, {}};
    Queue(runs.data(), n);
}

void Search() {
    EnableActionButtons(false);
    SearchAnswer answer;
    if (AskLibrary(answer)) {
        if (answer.result < 0) {
            LogPrintf("Search for devices failed (%d)", static_cast<int>(answer.result));
            KeepForNextSearch(answer);
        } else {
            uint32_t beforeCount = 0;
            const std::array<IspDeviceInfo, kDeviceSlots> before = CopyDeviceTable(&beforeCount);
            ShowDevices(answer.found, answer.result);
            QueueArrivals(before, beforeCount, answer);
        }
    }
    EnableActionButtons(true);
}

// Returns 1 when the run was made, 0 when it ended unseen for a close.
size_t Run(const RunRequest& run) {
    const bool made = RunConfiguration(run);
    bool click = false;
    {
        CoreLock lock(CoordinationLock);
        Running = false;
        click = std::exchange(ClickAsked, false);
        // Marked before the post: the click's own request, which may come
        // before this thread looks again, clears the mark.
        SearchForClick = click && SearchAsked;
    }
    if (click)
        PostClickUnlessClosing(IDC_FIND_DEVICES);
    return made ? 1 : 0;
}

// The thread at work: does all there is, then gives the role up.
size_t Work() {
    size_t runs = 0;
    for (;;) {
        Registration registration = Registration::None;
        RunRequest run{};
        switch (NextStep(&registration, &run)) {
        case Step::Register:
            RegisterOptionsAndLog(registration == Registration::LogEither);
            break;
        case Step::Search:
            Search();
            break;
        case Step::Run:
            runs += Run(run);
            break;
        case Step::Done:
            return runs;
        }
    }
}

size_t Act(Role role) {
    switch (role) {
    case Role::Work:
        return Work();
    case Role::StartWorker:
        if (!StartWorkerThread(0))
            NoWorker(true, false);
        return 0;
    case Role::None:
        return 0;
    }
    return 0;
}
} // namespace

uint32_t RefreshDeviceList() {
    Role role = Role::None;
    {
        CoreLock lock(CoordinationLock);
        SearchAsked = true;
        SearchForClick = false;
        role = TakeRoleLocked();
    }
    Act(role);
    return DeviceCount.load();
}

uint32_t ConfigureDevice(uint32_t index) {
    const RunRequest request = PressedRequest(index);
    Role role = Role::None;
    size_t queued = 0;
    {
        CoreLock lock(CoordinationLock);
        queued = QueueLocked(&request, 1);
        role = TakeRoleLocked();
    }
    LogRefused(&request, queued, 1);
    Act(role);
    return 0;
}

void AskFromDialog(const DialogRequest& request) {
    RunRequest pressed{};
    if (request.press >= 0)
        pressed = PressedRequest(static_cast<uint32_t>(request.press));
    const OnDialogThread dialogThread;
    const size_t presses = request.press >= 0 ? 1 : 0;
    Role role = Role::None;
    size_t queued = 0;
    {
        CoreLock lock(CoordinationLock);
        if (request.registration != Registration::None)
            QueueRegistrationLocked(request.registration);
        if (request.search) {
            SearchAsked = true;
            SearchForClick = false;
        }
        queued = QueueLocked(&pressed, presses);
        role = TakeRoleLocked();
    }
    LogRefused(&pressed, queued, presses);
    // The press passes its entry, as a worker's argument, to whoever looks.
    if (role == Role::StartWorker &&
        !StartWorkerThread(request.press >= 0 ? static_cast<uint32_t>(request.press) : 0))
        NoWorker(request.search, request.registration != Registration::None);
}

size_t RunQueuedWork() {
    Role role = Role::None;
    {
        CoreLock lock(CoordinationLock);
        role = TakeRoleLocked();
    }
    return Act(role);
}

ReportAnswer ReportDeviceChange(const DeviceReport& report) {
    Role role = Role::None;
    {
        CoreLock lock(CoordinationLock);
        if (InsideEnum && EnumThread == CurrentThreadId()) {
            ArrivalInsideEnum |= report.arrival;
            InvalidInsideEnum |= report.invalidSlots;
            return {false, 0};
        }
        SearchAsked = true;
        SearchForClick = false;
        ArrivalAsked |= report.arrival;
        InvalidAsked |= report.invalidSlots;
        if (Running) {
            ClickAsked = true;
            return {true, 0};
        }
        role = TakeRoleLocked();
    }
    return {false, Act(role)};
}

OnDialogThread::OnDialogThread() : outer_(t_dialogThread) { t_dialogThread = true; }
OnDialogThread::~OnDialogThread() { t_dialogThread = outer_; }

#if CORE_TESTING
bool WorkInProgress() {
    CoreLock lock(CoordinationLock);
    return Working;
}

bool RunInProgress() {
    CoreLock lock(CoordinationLock);
    return Running;
}

bool RequestPending() {
    CoreLock lock(CoordinationLock);
    return SearchAsked || RegistrationCount != 0;
}

void ResetDeviceCoordination() {
    CoreLock lock(CoordinationLock);
    Working = WorkerComing = SearchAsked = ArrivalAsked = InsideEnum = ArrivalInsideEnum = false;
    Running = ClickAsked = SearchForClick = Searched = false;
    InvalidAsked = InvalidInsideEnum = EnumThread = 0;
    QueueHead = QueueLength = WaitingCount = RegistrationHead = RegistrationCount = 0;
}
#endif
