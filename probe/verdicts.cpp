#include "verdicts.h"

#include "callback_watch.h"
#include "guarded_calls.h"
#include "probe_report.h"
#include "probe_run.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// The dialog's thread waits for a registration; longer than this and the
// dialog visibly stops answering.
constexpr double kSlowRegistrationMs = 1000;

enum class Verdict { Holds, Differs, NotSeen };

struct Judgement {
    Verdict verdict;
    char detail[320];
    const char* toolDoes; // what the tool does when it differs
};

struct Assumption {
    const char* id;
    const char* statement; // no parentheses: the line's form relies on it
    void (*judge)(Judgement* out);
};

#define JUDGE_PRINTF PROBE_PRINTF(3, 4)
void Set(Judgement* out, Verdict verdict, const char* format, ...) JUDGE_PRINTF;
void Set(Judgement* out, Verdict verdict, const char* format, ...) {
    out->verdict = verdict;
    va_list args;
    va_start(args, format);
    std::vsnprintf(out->detail, sizeof out->detail, format, args);
    va_end(args);
}

// Appends to a detail text being built.
void Append(char* text, size_t size, const char* part) {
    const size_t used = std::strlen(text);
    std::snprintf(text + used, size - used, "%s%s", used == 0 ? "" : "; ", part);
}

void JudgeMachine(Judgement* out) {
    if (!Run.machineRead)
        Set(out, Verdict::NotSeen, "no PE header was read");
    else
        Set(out, Run.machineMatches ? Verdict::Holds : Verdict::Differs, "%s", Run.machineText);
    out->toolDoes = "it does not start: Windows loads no library of another machine into it";
}

void JudgeExports(Judgement* out) {
    out->toolDoes = "it does not start: Windows stops it for a missing entry point";
    if (!Run.exportsRead) {
        Set(out, Verdict::NotSeen, "no export table was read");
        return;
    }
    char missing[300] = "";
    for (int k = 0; k < kImportCount; ++k) {
        if (Run.exactName[k])
            continue;
        char part[128];
        if (Run.foundAs[k][0] != 0)
            std::snprintf(part, sizeof part, "%s only as \"%s\"", kImportNames[k], Run.foundAs[k]);
        else
            std::snprintf(part, sizeof part, "%s missing", kImportNames[k]);
        Append(missing, sizeof missing, part);
    }
    if (missing[0] == 0)
        Set(out, Verdict::Holds, "all three");
    else
        Set(out, Verdict::Differs, "%s", missing);
}

void JudgeCalls(Judgement* out) {
    out->toolDoes = "it crashes or hangs in the same call";
    if (Run.stopped && Run.stoppedInCall)
        Set(out, Verdict::Differs, "%s", Run.stopCause);
    else if (Run.registrations[0].done)
        Set(out, Verdict::Holds, "every call returned");
    else
        Set(out, Verdict::NotSeen, "no call was made");
}

void JudgeStdcall(Judgement* out) {
    out->toolDoes = "its stack is off by those bytes after the first such call: it crashes";
    char found[300] = "";
    bool seen = false;
    bool checked = true;
    for (const RegistrationSeen& call : Run.registrations) {
        if (!call.done)
            continue;
        seen = true;
        checked = checked && call.stackLeft != kStackNotChecked;
        if (call.stackLeft != 0 && call.stackLeft != kStackNotChecked && found[0] == 0) {
            char part[96];
            std::snprintf(part, sizeof part, "Tamla_SetIspOption left %d bytes",
                          static_cast<int>(call.stackLeft));
            Append(found, sizeof found, part);
        }
    }
    for (const SearchSeen& call : Run.searches) {
        if (!call.done)
            continue;
        if (call.stackLeft != 0 && call.stackLeft != kStackNotChecked &&
            std::strstr(found, "Tamla_EnumDevices") == nullptr) {
            char part[96];
            std::snprintf(part, sizeof part, "Tamla_EnumDevices left %d bytes",
                          static_cast<int>(call.stackLeft));
            Append(found, sizeof found, part);
        }
    }
    if (!seen)
        Set(out, Verdict::NotSeen, "no call was made");
    else if (!checked)
        Set(out, Verdict::NotSeen, "x64 has one calling convention");
    else if (found[0] != 0)
        Set(out, Verdict::Differs, "%s on the stack: cdecl", found);
    else
        Set(out, Verdict::Holds,
            "every call removed its arguments; Tamla_FlashProgramB is never "
            "called");
}

void JudgeRegistration(Judgement* out) {
    out->toolDoes = "it logs \"Set isp option failure.\", labels the list by unique id and "
                    "searches all the same";
    const RegistrationSeen* r = Run.registrations;
    if (!r[0].done)
        Set(out, Verdict::NotSeen, "no registration was made");
    else if (r[0].result == 0 || (r[1].done && r[1].result == 0))
        Set(out, Verdict::Differs, "answered %d, then %d", static_cast<int>(r[0].result),
            static_cast<int>(r[1].result));
    else
        Set(out, Verdict::Holds, "answered %d", static_cast<int>(r[0].result));
}

void JudgeRecord(Judgement* out) {
    out->toolDoes = "it keeps the record as the library left it but reads only the mode field: "
                    "the other bytes changed have no effect in the tool";
    const RegistrationSeen* r = nullptr;
    for (const RegistrationSeen& call : Run.registrations)
        if (call.done && (r == nullptr || call.changedOutsideMode > 0))
            r = &call;
    if (r == nullptr)
        Set(out, Verdict::NotSeen, "no registration was made");
    else if (r->changedOutsideMode > 0)
        Set(out, Verdict::Differs,
            "%u byte(s) changed outside the mode field, the first at offset %u",
            static_cast<unsigned>(r->changedOutsideMode),
            static_cast<unsigned>(r->firstChangeOutsideMode));
    else if (r->changedBytes > 0)
        Set(out, Verdict::Holds, "only the mode changed, to %d", static_cast<int>(r->modeAfter));
    else
        Set(out, Verdict::Holds, "no byte changed");
}

void JudgeRegistrationTime(Judgement* out) {
    out->toolDoes = "its dialog does not answer while it registers: at start-up and at each press "
                    "of Find devices";
    double longest = -1;
    for (const RegistrationSeen& call : Run.registrations)
        if (call.done && call.ms > longest)
            longest = call.ms;
    if (longest < 0)
        Set(out, Verdict::NotSeen, "no registration was made");
    else
        Set(out, longest > kSlowRegistrationMs ? Verdict::Differs : Verdict::Holds,
            "%.1f ms at most", longest);
}

void JudgeSearchCount(Judgement* out) {
    out->toolDoes = "a negative result counts as none found; above 16 it lists 16 slots and reads "
                    "none past its table; a slot counted but not written shows as a zero record "
                    "with id 0";
    bool seen = false;
    for (size_t n = 0; n < kFullSearches; ++n) {
        const SearchSeen& s = Run.searches[n];
        if (!s.done)
            continue;
        seen = true;
        if (s.result < 0 || static_cast<uint32_t>(s.result) > s.maxCount ||
            static_cast<uint32_t>(s.result) != s.written) {
            Set(out, Verdict::Differs,
                "search %u returned %d with maxCount %u and %u record(s) written",
                static_cast<unsigned>(n + 1), static_cast<int>(s.result),
                static_cast<unsigned>(s.maxCount), static_cast<unsigned>(s.written));
            return;
        }
    }
    if (seen)
        Set(out, Verdict::Holds, "returned %d, as many as it wrote",
            static_cast<int>(Run.searches[0].result));
    else
        Set(out, Verdict::NotSeen, "no search was made");
}

void JudgeSearchOverrun(Judgement* out) {
    out->toolDoes = "it asks for 16 records into a table of 32: up to 16 more spoil nothing; "
                    "beyond that the library writes over the tool's memory, a crash or a "
                    "corrupted state";
    bool seen = false;
    for (size_t n = 0; n < kSearches; ++n) {
        const SearchSeen& s = Run.searches[n];
        if (!s.done)
            continue;
        seen = true;
        if (s.pastMaxCount > 0) {
            Set(out, Verdict::Differs, "search %u wrote %u record(s) past maxCount %u%s",
                static_cast<unsigned>(n + 1), static_cast<unsigned>(s.pastMaxCount),
                static_cast<unsigned>(s.maxCount), s.pastTable ? ", past the 16-record table" : "");
            return;
        }
    }
    if (seen)
        Set(out, Verdict::Holds, "no search wrote past maxCount");
    else
        Set(out, Verdict::NotSeen, "no search was made");
}

void JudgeSmallTable(Judgement* out) {
    out->toolDoes = "it passes 16: with more than 16 programmers attached it would get a count "
                    "above 16; it lists the first 16 and reads no slot past its table";
    const SearchSeen& s = Run.searches[kFullSearches];
    if (!s.done)
        Set(out, Verdict::NotSeen, "%s",
            Run.smallSearchSkipped ? "no programmer was found" : "no search was made");
    else if (s.result < 0 || static_cast<uint32_t>(s.result) > s.maxCount)
        Set(out, Verdict::Differs,
            "maxCount %u returned %d with %u record(s) written: it counts the programmers, not "
            "the records written",
            static_cast<unsigned>(s.maxCount), static_cast<int>(s.result),
            static_cast<unsigned>(s.written));
    else
        Set(out, Verdict::Holds, "maxCount %u returned %d", static_cast<unsigned>(s.maxCount),
            static_cast<int>(s.result));
}

void JudgeNames(Judgement* out) {
    out->toolDoes = "it shows at most the 50 bytes of a name, in name labels only, and never reads "
                    "past the record";
    uint32_t names = 0;
    uint32_t unterminated = 0;
    for (const SearchSeen& s : Run.searches) {
        names += s.names;
        unterminated += s.unterminated;
    }
    if (names == 0)
        Set(out, Verdict::NotSeen, "no record was written");
    else if (unterminated > 0)
        Set(out, Verdict::Differs, "%u of %u names had no terminator",
            static_cast<unsigned>(unterminated), static_cast<unsigned>(names));
    else
        Set(out, Verdict::Holds, "%u names, all terminated", static_cast<unsigned>(names));
}

void JudgeCallbackThread(Judgement* out) {
    out->toolDoes = "a callback inside Tamla_EnumDevices is answered by that search, one inside "
                    "Tamla_SetIspOption searches on the dialog's thread: it survives both";
    const size_t count = SeenCallbackCount();
    size_t inside = 0;
    bool inRegistration = false;
    bool inSearch = false;
    for (size_t i = 0; i < count; ++i) {
        SeenCallback seen;
        if (!SeenCallbackAt(i, &seen) || seen.libraryThread)
            continue;
        ++inside;
        inRegistration = inRegistration || seen.inside == LibraryCall::SetIspOption;
        inSearch = inSearch || seen.inside == LibraryCall::EnumDevices;
    }
    if (count == 0)
        Set(out, Verdict::NotSeen, "no callback came");
    else if (inside > 0)
        Set(out, Verdict::Differs, "%u of %u callback(s) came on the probe's own thread inside %s",
            static_cast<unsigned>(inside), static_cast<unsigned>(count),
            inRegistration && inSearch ? "Tamla_SetIspOption and Tamla_EnumDevices"
            : inRegistration           ? "Tamla_SetIspOption"
            : inSearch                 ? "Tamla_EnumDevices"
                                       : "no call");
    else
        Set(out, Verdict::Holds, "%u callback(s), all on library threads",
            static_cast<unsigned>(count));
}

void JudgeCallbackValues(Judgement* out) {
    out->toolDoes = "it ignores mask bits above 15 and lists at most 16 slots";
    const size_t count = SeenCallbackCount();
    for (size_t i = 0; i < count; ++i) {
        SeenCallback seen;
        if (SeenCallbackAt(i, &seen) && (seen.mask > 0xFFFF || seen.count > kToolTableSlots)) {
            Set(out, Verdict::Differs, "mask 0x%X with count %u", static_cast<unsigned>(seen.mask),
                static_cast<unsigned>(seen.count));
            return;
        }
    }
    if (count == 0)
        Set(out, Verdict::NotSeen, "no callback came");
    else
        Set(out, Verdict::Holds, "%u callback(s)", static_cast<unsigned>(count));
}

void JudgeCallbackLock(Judgement* out) {
    out->toolDoes = "it hangs when a device event comes while it registers, at start-up or at a "
                    "press of Find devices: its callback waits for the dialog's thread, which "
                    "waits in Tamla_SetIspOption";
    const LockCheckResult check = LockCheckOutcome();
    if (check.outcome == LockCheck::NotRun)
        Set(out, Verdict::NotSeen, "no callback came on a library thread while the probe was idle");
    else if (check.outcome == LockCheck::Returned)
        Set(out, Verdict::Holds,
            "a registration on another thread during callback #%u returned in "
            "%.1f ms",
            static_cast<unsigned>(check.callback + 1), check.callMs);
    else
        Set(out, Verdict::Differs,
            "a registration on another thread during callback #%u did not return while the "
            "callback waited %.0f ms; it took %.0f ms, until the callback had returned",
            static_cast<unsigned>(check.callback + 1), check.waitedMs, check.callMs);
}

void JudgeEventSlots(Judgement* out) {
    out->toolDoes = "its list stays right, as every event searches again; automatic download, "
                    "which this tool keeps off, would configure the wrong slot";
    if (!Run.watched)
        Set(out, Verdict::NotSeen, "no watch: run with --watch SECONDS and plug in a programmer");
    else if (Run.arrivalsChecked == 0)
        Set(out, Verdict::NotSeen, "no arrival came while watching");
    else if (Run.arrivalsMisplaced > 0)
        Set(out, Verdict::Differs, "%s", Run.arrivalMisplaced);
    else
        Set(out, Verdict::Holds, "%u arrival slot(s), each holding a new programmer",
            static_cast<unsigned>(Run.arrivalsChecked));
}

constexpr Assumption kAssumptions[] = {
    {"machine", "the library is built for this probe's machine", JudgeMachine},
    {"exports", "the three functions the tool imports are exported under their exact names",
     JudgeExports},
    {"calls", "every call returns in time and without crashing", JudgeCalls},
    {"stdcall", "every export removes its arguments from the stack, as stdcall does", JudgeStdcall},
    {"registration", "Tamla_SetIspOption accepts the tool's record, both times", JudgeRegistration},
    {"record", "registration changes no byte of the record but the mode field", JudgeRecord},
    {"registration-time", "Tamla_SetIspOption returns within a second", JudgeRegistrationTime},
    {"search-count", "Tamla_EnumDevices returns the number of records it wrote, 0 to maxCount",
     JudgeSearchCount},
    {"search-overrun", "Tamla_EnumDevices writes no record past maxCount", JudgeSearchOverrun},
    {"small-table", "with fewer slots than programmers, the result is at most maxCount",
     JudgeSmallTable},
    {"names", "every name is terminated within its 50 bytes", JudgeNames},
    {"callback-thread", "callbacks come on a library thread, never inside the library's own calls",
     JudgeCallbackThread},
    {"callback-values", "events name slots 0 to 15 and count at most 16 programmers",
     JudgeCallbackValues},
    {"callback-lock", "Tamla_SetIspOption does not wait for a callback running on a library thread",
     JudgeCallbackLock},
    {"event-slots", "an arrival's mask names the slots of the new programmers in the next search",
     JudgeEventSlots},
};
} // namespace

size_t ReportVerdicts() {
    Report("Verdicts, one per assumption of the tool");
    size_t differ = 0;
    for (const Assumption& assumption : kAssumptions) {
        Judgement judgement{};
        assumption.judge(&judgement);
        switch (judgement.verdict) {
        case Verdict::Holds:
            Report("  %s (%s): holds (%s)", assumption.id, assumption.statement, judgement.detail);
            break;
        case Verdict::NotSeen:
            Report("  %s (%s): not seen in this run (%s)", assumption.id, assumption.statement,
                   judgement.detail);
            break;
        case Verdict::Differs:
            ++differ;
            Report("  %s (%s): differs: %s", assumption.id, assumption.statement, judgement.detail);
            Report("      the tool then: %s", judgement.toolDoes);
            break;
        }
    }
    return differ;
}
