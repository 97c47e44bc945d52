#include "scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace sched {
namespace {
struct Thread {
    uint32_t id;
    std::string name;
    bool finished = false;
    std::function<bool()> waitFor; // empty: can run
    std::string waitWhat;
    uint64_t priority = 0; // with priorities: the higher runs first
    std::thread os;
};

constexpr size_t kTraceKept = 400;
constexpr auto kFreeDeadlock = std::chrono::seconds(30);

Mode g_mode = Mode::Free;
std::atomic<bool> g_active{false};
uint64_t g_seed = 0;
uint64_t g_budget = 0;
std::mutex g_mu; // the baton (controlled) and the world (free)
std::condition_variable g_cv;
std::vector<std::unique_ptr<Thread>> g_threads; // by id - 1
uint32_t g_running = 0;
std::atomic<uint64_t> g_steps{0};
std::mt19937_64 g_random;
// Half the seeds pick uniformly among the threads that can run; the other
// half give each thread a random priority, always run the highest, and at a
// few random steps drop the running thread below all others. The second way
// lets one thread stall for long while the others run far ahead, the
// interleavings a uniform pick rarely reaches.
bool g_priorities = false;
std::vector<uint64_t> g_changePoints;
uint64_t g_lowest = 0;
std::mutex g_randomMutex; // free mode only
std::mutex g_traceMutex;
std::deque<std::string> g_trace;
bool g_fullTrace = false;
std::function<std::string()> g_context;
thread_local Thread* t_self = nullptr;

void TraceLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_trace.push_back(line);
    if (!g_fullTrace && g_trace.size() > kTraceKept)
        g_trace.pop_front();
}

std::string Named(const Thread* thread) {
    return thread ? "T" + std::to_string(thread->id) + " " + thread->name : "T0 outside";
}

// Under g_mu, controlled: hands the baton to a thread that can run.
void PickNextLocked() {
    std::vector<Thread*> ready;
    for (const std::unique_ptr<Thread>& thread : g_threads)
        if (!thread->finished && (!thread->waitFor || thread->waitFor()))
            ready.push_back(thread.get());
    if (ready.empty()) {
        std::string waits = "deadlock: no thread can run;";
        for (const std::unique_ptr<Thread>& thread : g_threads)
            if (!thread->finished)
                waits += " " + Named(thread.get()) + " waits for " + thread->waitWhat + ";";
        Fail(waits);
    }
    Thread* next = ready[g_random() % ready.size()];
    if (g_priorities) {
        const uint64_t step = g_steps.load();
        if (std::find(g_changePoints.begin(), g_changePoints.end(), step) != g_changePoints.end() &&
            t_self != nullptr)
            t_self->priority = --g_lowest;
        next = *std::max_element(ready.begin(), ready.end(), [](const Thread* a, const Thread* b) {
            return a->priority < b->priority;
        });
    }
    next->waitFor = nullptr;
    g_running = next->id;
}

void WaitForBaton(std::unique_lock<std::mutex>& lock) {
    g_cv.wait(lock, [] { return g_running == t_self->id; });
}

void Finish() {
    if (g_mode == Mode::Free) {
        std::lock_guard<std::mutex> lock(g_mu);
        t_self->finished = true;
        g_cv.notify_all();
        return;
    }
    std::lock_guard<std::mutex> lock(g_mu);
    t_self->finished = true;
    TraceLine(std::to_string(g_steps.fetch_add(1)) + " " + Named(t_self) + ": ends");
    PickNextLocked();
    g_cv.notify_all();
}

void FreeDelay() {
    thread_local std::mt19937 random(uint32_t(g_seed * 7919 + (t_self ? t_self->id : 0)));
    const uint32_t r = random() % 64;
    if (r < 12)
        std::this_thread::yield();
    else if (r == 12)
        std::this_thread::sleep_for(std::chrono::microseconds(20 + random() % 200));
}
} // namespace

void Begin(Mode mode, uint64_t seed, uint64_t stepBudget) {
    g_mode = mode;
    g_seed = seed;
    g_budget = stepBudget;
    g_random.seed(seed);
    g_priorities = seed % 2 == 0;
    g_changePoints.clear();
    for (uint64_t n = 2 + g_random() % 10; n > 0; --n)
        g_changePoints.push_back(g_random() % 5000);
    g_lowest = uint64_t(1) << 32;
    g_steps = 0;
    g_threads.clear();
    g_trace.clear();
    auto main = std::make_unique<Thread>();
    main->id = 1;
    main->name = "user";
    main->priority = (uint64_t(1) << 40) + g_random() % 1000;
    t_self = main.get();
    g_threads.push_back(std::move(main));
    g_running = 1;
    g_active = true;
}

void End(const std::function<void()>& stop) {
    {
        WorldLock lock;
        stop();
    }
    if (g_mode == Mode::Controlled)
        WaitUntil("every other thread to end", [self = t_self] {
            for (const std::unique_ptr<Thread>& thread : g_threads)
                if (thread.get() != self && !thread->finished)
                    return false;
            return true;
        });
    else
        g_cv.notify_all();
    for (const std::unique_ptr<Thread>& thread : g_threads)
        if (thread->os.joinable())
            thread->os.join();
    g_active = false;
}

bool Controlled() { return g_active.load() && g_mode == Mode::Controlled; }

uint32_t CurrentId() { return t_self ? t_self->id : 0; }

uint64_t Now() { return g_steps.fetch_add(1); }

uint32_t Choose(uint32_t n) {
    if (g_mode == Mode::Controlled)
        return uint32_t(g_random() % n);
    std::lock_guard<std::mutex> lock(g_randomMutex);
    return uint32_t(g_random() % n);
}

void Spawn(std::string name, std::function<void()> body) {
    std::lock_guard<std::mutex> lock(g_mu);
    auto thread = std::make_unique<Thread>();
    thread->id = uint32_t(g_threads.size() + 1);
    thread->name = std::move(name);
    thread->priority = (uint64_t(1) << 40) + Choose(1000);
    Thread* self = thread.get();
    g_threads.push_back(std::move(thread));
    self->os = std::thread([self, body = std::move(body)] {
        t_self = self;
        if (g_mode == Mode::Controlled) {
            std::unique_lock<std::mutex> baton(g_mu);
            WaitForBaton(baton);
        }
        body();
        Finish();
    });
}

void Seam(const std::string& what) { Seam(what.c_str()); }

void Seam(const char* what) {
    if (!g_active.load())
        return;
    if (g_mode == Mode::Free) {
        const uint64_t step = g_steps.fetch_add(1);
        // Free runs cannot be replayed; --trace at least shows the steps.
        if (g_fullTrace)
            TraceLine(std::to_string(step) + " " + Named(t_self) + ": " + what);
        FreeDelay();
        return;
    }
    std::unique_lock<std::mutex> lock(g_mu);
    const uint64_t step = g_steps.fetch_add(1);
    TraceLine(std::to_string(step) + " " + Named(t_self) + ": " + what);
    if (step > g_budget)
        Fail("no rest after " + std::to_string(g_budget) + " steps");
    PickNextLocked();
    g_cv.notify_all();
    WaitForBaton(lock);
}

void WaitUntil(const std::string& what, const std::function<bool()>& ready) {
    if (g_mode == Mode::Free || !g_active.load()) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(g_mu);
        while (!ready()) {
            if (std::chrono::steady_clock::now() - start > kFreeDeadlock) {
                lock.unlock();
                Fail(Named(t_self) + " waited 30 s for " + what);
            }
            g_cv.wait_for(lock, std::chrono::milliseconds(1));
        }
        return;
    }
    while (!ready()) {
        t_self->waitFor = ready;
        t_self->waitWhat = what;
        Seam("waits for " + what);
    }
}

void Fail(const std::string& why) {
    std::fprintf(stderr, "\nSCHEDULE SIMULATION FAILED, seed %llu (%s): %s\n",
                 static_cast<unsigned long long>(g_seed),
                 g_mode == Mode::Controlled ? "controlled" : "free threads", why.c_str());
    if (g_context)
        std::fprintf(stderr, "%s", g_context().c_str());
    {
        std::lock_guard<std::mutex> lock(g_traceMutex);
        std::fprintf(stderr, "-- the last %zu steps of the schedule:\n", g_trace.size());
    }
    std::fprintf(stderr, "%s", TraceText().c_str());
    std::fprintf(stderr, "replay: schedule_simulation --seed %llu%s\n",
                 static_cast<unsigned long long>(g_seed),
                 g_mode == Mode::Controlled ? "" : " --free");
    std::fflush(stderr);
    std::_Exit(1);
}

std::string TraceText() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    std::string text;
    for (const std::string& line : g_trace)
        text += "  " + line + "\n";
    return text;
}

void SetFailureContext(std::function<std::string()> context) { g_context = std::move(context); }

void SetFullTrace(bool full) { g_fullTrace = full; }

WorldLock::WorldLock() {
    if (g_mode == Mode::Free && g_active.load())
        g_mu.lock();
}

WorldLock::~WorldLock() {
    if (g_mode == Mode::Free && g_active.load()) {
        g_mu.unlock();
        g_cv.notify_all();
    }
}

} // namespace sched
