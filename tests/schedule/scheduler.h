// The threads of the schedule simulation, in one of two modes.
//
// Controlled: only one thread runs at a time. At every seam the running
// thread hands over to a thread picked by the seed among those that can run
// (a thread waiting for a condition can run once it holds), so a seed names
// one interleaving and replays it exactly. No thread able to run while one
// still waits for something is a deadlock, reported with every thread's
// wait.
//
// Free: real threads, for the thread sanitizer; a seam may yield or sleep a
// little, and a wait that lasts 30 s is reported as a deadlock.
//
// World state (what the simulated library, dialog and user share) is read
// and written under WorldLock; conditions given to WaitUntil read only that.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sched {

enum class Mode { Controlled, Free };

// The calling thread becomes thread 1. Steps are seams; a controlled run that
// takes more than stepBudget of them has not come to rest.
void Begin(Mode mode, uint64_t seed, uint64_t stepBudget);
// Ends the run: stop() makes the waits of the threads that wait for work
// forever hold, then all threads are joined. Called by thread 1 once the others are at rest.
void End(const std::function<void()>& stop);

bool Controlled();
uint32_t CurrentId();
// A global order of the run's seams, for the record of what happened when:
// each call gives a new, larger number, so records taken under WorldLock are
// ordered as the lock ordered them, also on free threads.
uint64_t Now();
// The seed's choice among n (n > 0). Controlled: the same for the same seed.
uint32_t Choose(uint32_t n);

// A thread that starts now and runs body when scheduled.
void Spawn(std::string name, std::function<void()> body);

// A point where another thread may run next.
void Seam(const char* what);
void Seam(const std::string& what);
// Returns once ready() holds; what names the wait in a deadlock report.
void WaitUntil(const std::string& what, const std::function<bool()>& ready);

// Reports a broken rule with the seed and the trace, then exits with 1.
[[noreturn]] void Fail(const std::string& why);
// What to print besides the trace when a run fails.
void SetFailureContext(std::function<std::string()> context);
// The schedule so far, one line per seam.
std::string TraceText();
// Keep the whole trace (by default only its last 400 lines are printed).
void SetFullTrace(bool full);

class WorldLock {
public:
    WorldLock();
    ~WorldLock();
    WorldLock(const WorldLock&) = delete;
    WorldLock& operator=(const WorldLock&) = delete;
};

} // namespace sched
