// What one run of the probe measured. The record lives in memory shared by
// the probe and the child it starts to make the library's calls: the child
// writes each finding into it as it goes, and the parent judges from it
// whatever became of the child. Plain fields the child writes are read by
// the parent only once the child has ended; the atomics are read while it
// runs.
#pragma once

#include "isp_api.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// Records in the probe's search table: the tool's search table and as much
// again, so a write past the tool's room is seen rather than crashed on. A
// no-access page follows the last one.
constexpr uint32_t kProbeTableRecords = kIspSearchRecords + kIspDeviceSlots;
// Records the tool has past the maxCount it passes.
constexpr uint32_t kToolSpareRecords = kIspSearchRecords - kIspDeviceSlots;

// The three exports the tool imports, in this order everywhere.
enum ImportIndex { kImportEnumDevices, kImportSetIspOption, kImportFlashProgramB, kImportCount };
extern const char* const kImportNames[kImportCount];

enum class LibraryCall : uint8_t { None, Load, SetIspOption, EnumDevices };

// What the child is doing; the parent gives each phase its time-out.
enum class Phase : uint32_t {
    Starting,
    Loading,
    Registering,
    Searching,
    Watching,
    Lingering,
    Done
};

// The bytes of arguments a call left on the stack: 0 as a stdcall function
// leaves it, all of them for cdecl. x64 has one calling convention.
constexpr int32_t kStackNotChecked = INT32_MIN;

// A Tamla_SetIspOption call (the tool registers twice at start-up).
struct RegistrationSeen {
    bool done;
    int32_t result;
    double ms;
    int32_t stackLeft;
    uint32_t changedBytes;
    uint32_t changedOutsideMode;
    uint32_t firstChangeOutsideMode;
    int32_t modeAfter;
};

// A Tamla_EnumDevices call into the probe's table.
struct SearchSeen {
    bool done;
    uint32_t maxCount;
    int32_t result;
    double ms;
    int32_t stackLeft;
    uint32_t written;      // records written, counted up to the last one touched
    uint32_t pastMaxCount; // records touched at or after maxCount
    uint32_t pastRoom;     // ... and at or after maxCount plus the tool's spare room
};

constexpr size_t kRegistrations = 2;
constexpr size_t kFullSearches = 2;
constexpr size_t kSearches = kFullSearches + 1; // the last one with a smaller maxCount

enum class SmallSearch : uint8_t { Made, NoneFound, OneFound };

// One call in progress on one of the child's threads.
struct CallSlot {
    std::atomic<bool> claimed;
    std::atomic<uint8_t> call;
    std::atomic<int64_t> start;   // performance counter ticks, the same in both processes
    std::atomic<uint32_t> thread; // set last: the slot is in use
};
// The child's main thread, the lock check's helper, and room to spare.
constexpr size_t kCallSlots = 4;

// The last exception of the error kind raised in the child, seen before any
// handler of the library's could hide it.
struct ExceptionSeen {
    std::atomic<uint32_t> count;
    std::atomic<uint32_t> code;
    std::atomic<uint64_t> address;
    std::atomic<uint64_t> accessed; // the address an access violation touched
    std::atomic<uint32_t> thread;
    std::atomic<uint8_t> call;   // the call the thread was inside
    std::atomic<bool> unhandled; // no handler took it: the process ends
};

// A module of the child's, to name addresses in.
struct ModuleSeen {
    uint64_t base;
    uint64_t size;
    char name[64];
};
constexpr size_t kModulesKept = 64;

struct SeenCallback {
    int32_t code;
    uint32_t mask;
    uint32_t count;
    uint32_t thread;
    LibraryCall inside;    // the export the thread was inside, when it is the probe's
    bool libraryThread;    // a thread the probe did not call from
    bool overlapped;       // another callback was running when this one started
    LibraryCall preceding; // the call started last before it
    double msAfter;        // and how long before it
    double atMs;
};
struct CallbackEntry {
    std::atomic<bool> ready;
    SeenCallback seen;
};
constexpr size_t kCallbacksKept = 512;

enum class LockCheck : uint8_t { NotRun, Returned, Waited, Slow };
struct LockCheckResult {
    LockCheck outcome;
    size_t callback;      // index of the callback it ran in
    double waitedMs;      // how long the callback waited for the registration
    double callMs;        // how long the registration took
    double afterReturnMs; // how long after the callback returned it returned
    int32_t result;
};

// Why a run ended before its end, as the exit status tells it.
enum class StopKind : uint8_t {
    None,
    CannotLoad,   // the probe cannot load the library: exit status 2
    LibraryFault, // the library crashed, hung or ended the process: it breaks the tool
    Interrupted,  // the run could not finish for another cause: exit status 2
};

// What the library did that stopped the run.
enum class Fault : uint8_t { None, Crash, LibraryThreadCrash, EndedProcess, Hang };

constexpr size_t kPathChars = 260;
constexpr size_t kChildTextSize = 512 * 1024;

struct ProbeRun {
    // Set by the parent before the child starts.
    wchar_t library[kPathChars];
    uint32_t watchSeconds;
    uint32_t timeoutSeconds;
    int64_t originTicks;

    // The file, read by the parent.
    bool machineRead;
    bool machineMatches;
    char machineText[96];
    bool exportsRead;
    bool exactName[kImportCount];
    char foundAs[kImportCount][64]; // another form of the name, when only that is exported

    // The calls, made by the child.
    std::atomic<Phase> phase;
    uint32_t mainThread;
    std::atomic<uint32_t> helperThread;
    bool loaded;
    uint32_t loadError;
    bool entriesMissing;
    char childProblem[128]; // the child could not make its calls for a cause of its own
    ModuleSeen modules[kModulesKept];
    uint32_t moduleCount;
    uint64_t tableGuard; // the no-access page after the search table
    uint64_t tableGuardSize;
    RegistrationSeen registrations[kRegistrations];
    int32_t toolMode; // the mode the tool would read after registering (0 after a refusal)
    SearchSeen searches[kSearches];
    SmallSearch smallSearch;
    uint32_t namedDevices; // distinct programmers whose records were decoded
    uint32_t unterminatedNames;
    bool watched;
    std::atomic<bool> stopWatch; // Ctrl+C during the watch
    uint32_t arrivalsChecked;
    uint32_t arrivalsMisplaced;
    char arrivalMisplaced[128];
    CallSlot calls[kCallSlots];
    ExceptionSeen exception;
    CallbackEntry callbacks[kCallbacksKept];
    std::atomic<uint32_t> callbacksNext;
    std::atomic<uint32_t> callbacksNotKept;
    LockCheckResult lockCheck;
    std::atomic<bool> lockCheckReady;

    // How the run ended, decided by the parent.
    StopKind stop;
    Fault fault;
    LibraryCall faultCall; // the call it happened in, if any
    bool pastProbeTable;   // a search wrote into the page after the probe's table
    char stopCause[384];

    // The child's report lines, taken up by the parent as they come.
    std::atomic<uint32_t> textUsed;
    std::atomic<bool> textFull;
    char text[kChildTextSize];
};

// The run's record: in the parent the one it shares, in the child the one
// it was handed.
ProbeRun& Run();
void UseRun(ProbeRun* run);
