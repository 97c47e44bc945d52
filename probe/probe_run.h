// What one run of the probe measured: written by its steps, read by the
// verdicts. The probe runs its steps on one thread; the callback and the
// watchdog only read this record when the run stops.
#pragma once

#include <cstddef>
#include <cstdint>

// The tool's device table and the maxCount it passes.
constexpr uint32_t kToolTableSlots = 16;

// The three exports the tool imports, in this order everywhere.
enum ImportIndex { kImportEnumDevices, kImportSetIspOption, kImportFlashProgramB, kImportCount };
extern const char* const kImportNames[kImportCount];

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

// A Tamla_EnumDevices call into the probe's guarded table.
struct SearchSeen {
    bool done;
    uint32_t maxCount;
    int32_t result;
    double ms;
    int32_t stackLeft;
    uint32_t written;      // records written, counted up to the last one touched
    uint32_t pastMaxCount; // records touched at or after maxCount
    bool pastTable;        // a record touched after the tool's 16
    uint32_t names;        // names decoded
    uint32_t unterminated;
};

constexpr size_t kRegistrations = 2;
constexpr size_t kFullSearches = 2;
constexpr size_t kSearches = kFullSearches + 1; // the last one with a smaller maxCount

struct ProbeRun {
    bool machineRead;
    bool machineMatches;
    char machineText[96];
    bool exportsRead;
    bool exactName[kImportCount];
    char foundAs[kImportCount][64]; // another form of the name, when only that is exported
    RegistrationSeen registrations[kRegistrations];
    int32_t toolMode; // the mode the tool would read after registering (0 after a refusal)
    SearchSeen searches[kSearches];
    bool smallSearchSkipped; // no programmer found, so no smaller table
    bool watched;
    uint32_t arrivalsChecked;
    uint32_t arrivalsMisplaced;
    char arrivalMisplaced[128];
    bool stopped;
    bool stoppedInCall;
    char stopCause[256];
};

extern ProbeRun Run;

// Ends the run early: the cause, the verdicts so far and the report file,
// then exit status 2. Safe from any thread; never returns.
[[noreturn]] void StopRun(const char* cause, bool inCall);
