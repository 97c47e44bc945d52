#include "verdicts.h"

#include "callback_watch.h"
#include "guarded_calls.h"
#include "probe_report.h"
#include "probe_run.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// A registration slower than this is worth a note: the tool's work waits
// for it.
constexpr double kSlowRegistrationMs = 1000;
static_assert(kIspDeviceSlots == 16 && kIspSearchRecords == 32,
              "the texts below name the tool's 16 slots and 32 records");

enum class Verdict { Holds, NotSeen, Copes, Breaks };

struct Judgement {
    Verdict verdict;
    char detail[384];
    const char* toolDoes; // what the tool does, when it copes or breaks
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

const char* NotMadeBecause() {
    return Run().stop != StopKind::None ? "the run stopped before it" : "none was made";
}

void JudgeMachine(Judgement* out) {
    out->toolDoes = "it does not start: Windows loads no library of another machine into it";
    if (!Run().machineRead)
        Set(out, Verdict::NotSeen, "no PE header was read");
    else
        Set(out, Run().machineMatches ? Verdict::Holds : Verdict::Breaks, "%s", Run().machineText);
}

void JudgeExports(Judgement* out) {
    out->toolDoes = "it does not start: Windows stops it for a missing entry point";
    if (!Run().exportsRead) {
        Set(out, Verdict::NotSeen, "no export table was read");
        return;
    }
    char missing[300] = "";
    for (int k = 0; k < kImportCount; ++k) {
        if (Run().exactName[k])
            continue;
        char part[128];
        if (Run().foundAs[k][0] != 0)
            std::snprintf(part, sizeof part, "%s only as \"%s\"", kImportNames[k],
                          Run().foundAs[k]);
        else
            std::snprintf(part, sizeof part, "%s missing", kImportNames[k]);
        Append(missing, sizeof missing, part);
    }
    if (missing[0] == 0)
        Set(out, Verdict::Holds, "all three");
    else
        Set(out, Verdict::Breaks, "%s", missing);
}

void JudgeCalls(Judgement* out) {
    switch (Run().fault) {
    case Fault::Crash:
        out->toolDoes = "it crashes in the same call, gone without a line in its log";
        break;
    case Fault::LibraryThreadCrash:
        out->toolDoes = "it crashes as well: the library's threads run in the tool's process";
        break;
    case Fault::EndedProcess:
        out->toolDoes = "it ends the same way, without a line in its log";
        break;
    case Fault::Hang:
        out->toolDoes = "its thread at work stays in that call: the dialog still answers, but no "
                        "search or write follows";
        break;
    case Fault::None:
        break;
    }
    if (Run().faultCall == LibraryCall::Load)
        out->toolDoes = "it does not start: Windows loads the library, its DllMain included, "
                        "before the tool runs a line of its own";
    if (Run().fault != Fault::None)
        Set(out, Verdict::Breaks, "%s", Run().stopCause);
    else if (Run().stop != StopKind::None)
        Set(out, Verdict::NotSeen, "the run stopped: %s", Run().stopCause);
    else if (Run().registrations[0].done)
        Set(out, Verdict::Holds, "every call returned");
    else
        Set(out, Verdict::NotSeen, "no call was made");
}

// The first call of an export that did not leave the stack as stdcall does.
void StackPart(char* found, size_t size, const char* name, int32_t stackLeft, uint32_t bytes) {
    if (stackLeft == 0 || stackLeft == kStackNotChecked || std::strstr(found, name) != nullptr)
        return;
    char part[128];
    if (stackLeft == static_cast<int32_t>(bytes))
        std::snprintf(part, sizeof part, "%s left its %u bytes of arguments: cdecl", name,
                      static_cast<unsigned>(bytes));
    else if (stackLeft < 0)
        std::snprintf(part, sizeof part, "%s removed %d bytes more than its %u", name,
                      static_cast<int>(-stackLeft), static_cast<unsigned>(bytes));
    else
        std::snprintf(part, sizeof part, "%s left %d of its %u bytes", name,
                      static_cast<int>(stackLeft), static_cast<unsigned>(bytes));
    Append(found, size, part);
}

void JudgeStdcall(Judgement* out) {
    out->toolDoes = "its stack is off by those bytes after the first such call: it crashes";
    char found[300] = "";
    bool seen = false;
    bool checked = true;
    for (const RegistrationSeen& call : Run().registrations) {
        if (!call.done)
            continue;
        seen = true;
        checked = checked && call.stackLeft != kStackNotChecked;
        StackPart(found, sizeof found, "Tamla_SetIspOption", call.stackLeft, 4);
    }
    for (const SearchSeen& call : Run().searches)
        if (call.done)
            StackPart(found, sizeof found, "Tamla_EnumDevices", call.stackLeft, 8);
    if (!seen)
        Set(out, Verdict::NotSeen, "no call was made");
    else if (!checked)
        Set(out, Verdict::NotSeen, "x64 has one calling convention");
    else if (found[0] != 0)
        Set(out, Verdict::Breaks, "%s", found);
    else
        Set(out, Verdict::Holds,
            "every call removed its arguments; Tamla_FlashProgramB is never called");
}

void JudgeRegistration(Judgement* out) {
    out->toolDoes = "it logs \"Set isp option failure.\", labels the list by unique id and "
                    "searches all the same";
    const RegistrationSeen* r = Run().registrations;
    char second[64];
    if (r[1].done)
        std::snprintf(second, sizeof second, ", then %d", static_cast<int>(r[1].result));
    else
        std::snprintf(second, sizeof second, "; the second registration was not made");
    if (!r[0].done)
        Set(out, Verdict::NotSeen, "no registration was made");
    else if (r[0].result == 0 || (r[1].done && r[1].result == 0))
        Set(out, Verdict::Copes, "answered %d%s", static_cast<int>(r[0].result), second);
    else
        Set(out, Verdict::Holds, "answered %d%s", static_cast<int>(r[0].result), second);
}

void JudgeRecord(Judgement* out) {
    out->toolDoes = "it keeps the record as the library left it but reads only the mode field: "
                    "the other bytes changed have no effect in the tool";
    const RegistrationSeen* r = nullptr;
    for (const RegistrationSeen& call : Run().registrations)
        if (call.done && (r == nullptr || call.changedOutsideMode > 0))
            r = &call;
    if (r == nullptr)
        Set(out, Verdict::NotSeen, "no registration was made");
    else if (r->changedOutsideMode > 0)
        Set(out, Verdict::Copes,
            "%u byte(s) changed outside the mode field, the first at offset %u",
            static_cast<unsigned>(r->changedOutsideMode),
            static_cast<unsigned>(r->firstChangeOutsideMode));
    else if (r->changedBytes > 0)
        Set(out, Verdict::Holds, "only the mode changed, to %d", static_cast<int>(r->modeAfter));
    else
        Set(out, Verdict::Holds, "no byte changed");
}

void JudgeRegistrationTime(Judgement* out) {
    out->toolDoes = "its thread at work waits that long for each registration (at start-up, "
                    "before the search of each press of Find devices, and at each change of an "
                    "option check box): the list comes that much later, while the dialog keeps "
                    "answering";
    double longest = -1;
    for (const RegistrationSeen& call : Run().registrations)
        if (call.done && call.ms > longest)
            longest = call.ms;
    if (longest < 0)
        Set(out, Verdict::NotSeen, "no registration was made");
    else
        Set(out, longest > kSlowRegistrationMs ? Verdict::Copes : Verdict::Holds, "%.1f ms at most",
            longest);
}

void JudgeSearchCount(Judgement* out) {
    out->toolDoes = "a negative result is a failed search: it logs \"Search for devices failed\" "
                    "and keeps its list as it was; above 16 it lists 16 programmers and reads no "
                    "record past them; a record counted but not written shows as a zero record "
                    "with id 0";
    bool seen = false;
    for (size_t n = 0; n < kFullSearches; ++n) {
        const SearchSeen& s = Run().searches[n];
        if (!s.done)
            continue;
        seen = true;
        if (s.result < 0 || static_cast<uint32_t>(s.result) > s.maxCount ||
            static_cast<uint32_t>(s.result) != s.written) {
            Set(out, Verdict::Copes,
                "search %u returned %d with maxCount %u and %u record(s) written",
                static_cast<unsigned>(n + 1), static_cast<int>(s.result),
                static_cast<unsigned>(s.maxCount), static_cast<unsigned>(s.written));
            return;
        }
    }
    if (seen)
        Set(out, Verdict::Holds, "returned %d, as many as it wrote",
            static_cast<int>(Run().searches[0].result));
    else
        Set(out, Verdict::NotSeen, "no search was made: %s", NotMadeBecause());
}

void JudgeSearchOverrun(Judgement* out) {
    if (Run().pastProbeTable) {
        out->toolDoes = "the records past its 32 overwrite the tool's own memory: a crash or a "
                        "corrupted state";
        Set(out, Verdict::Breaks,
            "a search wrote past the probe's %u records, into the no-access "
            "page after them",
            static_cast<unsigned>(kProbeTableRecords));
        return;
    }
    const SearchSeen* past = nullptr;
    bool seen = false;
    for (const SearchSeen& s : Run().searches) {
        seen = seen || s.done;
        if (s.done && s.pastMaxCount > 0 && (past == nullptr || s.pastRoom > past->pastRoom))
            past = &s;
    }
    if (past != nullptr && past->pastRoom > 0) {
        out->toolDoes = "the records past its 32 overwrite the tool's own memory: a crash or a "
                        "corrupted state";
        Set(out, Verdict::Breaks,
            "a search with maxCount %u wrote %u record(s) past it, %u past the %u spare the tool "
            "has",
            static_cast<unsigned>(past->maxCount), static_cast<unsigned>(past->pastMaxCount),
            static_cast<unsigned>(past->pastRoom), static_cast<unsigned>(kToolSpareRecords));
    } else if (past != nullptr) {
        out->toolDoes = "it hands the library 32 records for a maxCount of 16: the 16 spare take "
                        "what is written past maxCount, and it reads none of them";
        Set(out, Verdict::Copes,
            "a search with maxCount %u wrote %u record(s) past it, within the %u spare the tool "
            "has",
            static_cast<unsigned>(past->maxCount), static_cast<unsigned>(past->pastMaxCount),
            static_cast<unsigned>(kToolSpareRecords));
    } else if (seen) {
        Set(out, Verdict::Holds, "no search wrote past maxCount");
    } else {
        Set(out, Verdict::NotSeen, "no search was made: %s", NotMadeBecause());
    }
}

void JudgeSmallTable(Judgement* out) {
    out->toolDoes = "it passes 16: with more than 16 programmers attached it would get a count "
                    "above 16; it lists the first 16 and reads no record past them";
    const SearchSeen& s = Run().searches[kFullSearches];
    if (!s.done)
        Set(out, Verdict::NotSeen, "%s",
            Run().smallSearch == SmallSearch::NoneFound  ? "no programmer was found"
            : Run().smallSearch == SmallSearch::OneFound ? "one programmer was found, and the "
                                                           "tool never passes maxCount 0"
                                                         : "no such search was made");
    else if (s.result < 0 || static_cast<uint32_t>(s.result) > s.maxCount)
        Set(out, Verdict::Copes,
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
    const uint32_t devices = Run().namedDevices;
    if (devices == 0)
        Set(out, Verdict::NotSeen, "no record was written");
    else if (Run().unterminatedNames > 0)
        Set(out, Verdict::Copes, "%u of %u programmer(s) had a name without a terminator",
            static_cast<unsigned>(Run().unterminatedNames), static_cast<unsigned>(devices));
    else
        Set(out, Verdict::Holds, "%u programmer(s), every name terminated",
            static_cast<unsigned>(devices));
}

void JudgeCallbackThread(Judgement* out) {
    out->toolDoes = "a callback inside a call comes on the tool's thread at work: inside "
                    "Tamla_EnumDevices that search answers it; inside Tamla_SetIspOption it "
                    "records the request and returns at once, and the same thread searches "
                    "after the registration";
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
        Set(out, Verdict::Copes, "%u of %u callback(s) came on the probe's own thread inside %s",
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
    out->toolDoes = "it ignores mask bits above 15 and lists at most 16 programmers";
    const size_t count = SeenCallbackCount();
    for (size_t i = 0; i < count; ++i) {
        SeenCallback seen;
        if (SeenCallbackAt(i, &seen) &&
            ((seen.mask >> kIspDeviceSlots) != 0 || seen.count > kIspDeviceSlots)) {
            Set(out, Verdict::Copes, "mask 0x%X with count %u", static_cast<unsigned>(seen.mask),
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
    out->toolDoes = "it never calls into the library on a second thread: a callback that comes "
                    "while a thread of the tool is at work records the request and returns at "
                    "once, so the tool's call waits only until then: a delay, not a hang";
    const LockCheckResult check = LockCheckOutcome();
    const unsigned callback = static_cast<unsigned>(check.callback + 1);
    switch (check.outcome) {
    case LockCheck::NotRun:
        Set(out, Verdict::NotSeen, "no callback came on a library thread while the probe was idle");
        break;
    case LockCheck::Returned:
        Set(out, Verdict::Holds,
            "a registration on another thread during callback #%u returned in %.1f ms", callback,
            check.callMs);
        break;
    case LockCheck::Waited:
        Set(out, Verdict::Copes,
            "a registration on another thread during callback #%u did not return while the "
            "callback waited %.0f ms, and returned %.0f ms after the callback did",
            callback, check.waitedMs, check.afterReturnMs);
        break;
    case LockCheck::Slow:
        Set(out, Verdict::NotSeen,
            "a registration on another thread during callback #%u took %.0f ms and returned "
            "%.0f ms after the callback did: too slow to tell whether it waited for it",
            callback, check.callMs, check.afterReturnMs);
        break;
    }
}

void JudgeEventSlots(Judgement* out) {
    out->toolDoes = "its list stays right, as every event makes it search again; automatic "
                    "download, which this tool keeps off, finds arrived programmers by comparing "
                    "searches, not by the mask's slots";
    if (!Run().watched)
        Set(out, Verdict::NotSeen, "no watch: run with --watch SECONDS and plug in a programmer");
    else if (Run().arrivalsChecked == 0)
        Set(out, Verdict::NotSeen, "no arrival came while watching");
    else if (Run().arrivalsMisplaced > 0)
        Set(out, Verdict::Copes, "%s", Run().arrivalMisplaced);
    else
        Set(out, Verdict::Holds, "%u arrival slot(s), each holding a new programmer",
            static_cast<unsigned>(Run().arrivalsChecked));
}

constexpr Assumption kAssumptions[] = {
    {"machine", "the library is built for this probe's machine", JudgeMachine},
    {"exports", "the three functions the tool imports are exported under their exact names",
     JudgeExports},
    {"calls", "every call returns in time, and neither the calls nor the library's threads crash",
     JudgeCalls},
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
constexpr size_t kAssumptionCount = sizeof kAssumptions / sizeof kAssumptions[0];

const Judgement* Judgements() {
    static Judgement judgements[kAssumptionCount];
    static bool judged = false;
    if (!judged) {
        for (size_t i = 0; i < kAssumptionCount; ++i)
            kAssumptions[i].judge(&judgements[i]);
        judged = true;
    }
    return judgements;
}

// Appends one line to a block of lines.
void AddLine(char* buffer, size_t size, const char* format, ...) PROBE_PRINTF(3, 4);
void AddLine(char* buffer, size_t size, const char* format, ...) {
    const size_t used = std::strlen(buffer);
    if (used + 3 >= size)
        return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer + used, size - used - 2, format, args);
    va_end(args);
    size_t end = n < 0 ? used : used + static_cast<size_t>(n);
    if (end > size - 3)
        end = size - 3;
    buffer[end] = '\r';
    buffer[end + 1] = '\n';
    buffer[end + 2] = 0;
}
} // namespace

void ReportVerdicts() {
    Report("Verdicts, one per assumption of the tool");
    const Judgement* judgements = Judgements();
    for (size_t i = 0; i < kAssumptionCount; ++i) {
        const Assumption& assumption = kAssumptions[i];
        const Judgement& judgement = judgements[i];
        switch (judgement.verdict) {
        case Verdict::Holds:
            Report("  %s (%s): holds (%s)", assumption.id, assumption.statement, judgement.detail);
            break;
        case Verdict::NotSeen:
            Report("  %s (%s): not seen in this run (%s)", assumption.id, assumption.statement,
                   judgement.detail);
            break;
        case Verdict::Copes:
        case Verdict::Breaks:
            Report("  %s (%s): %s: %s", assumption.id, assumption.statement,
                   judgement.verdict == Verdict::Breaks ? "breaks the tool" : "the tool copes",
                   judgement.detail);
            Report("      the tool then: %s", judgement.toolDoes);
            break;
        }
    }
}

int ResultLines(char* buffer, size_t size) {
    buffer[0] = 0;
    const Judgement* judgements = Judgements();
    size_t breaks = 0;
    size_t copes = 0;
    const Judgement* first = nullptr;
    const char* firstId = "";
    for (size_t i = 0; i < kAssumptionCount; ++i) {
        if (judgements[i].verdict == Verdict::Breaks && breaks++ == 0) {
            first = &judgements[i];
            firstId = kAssumptions[i].id;
        }
        copes += judgements[i].verdict == Verdict::Copes ? 1 : 0;
    }
    int status = 0;
    if (Run().stop == StopKind::CannotLoad || Run().stop == StopKind::Interrupted) {
        status = 2;
        AddLine(buffer, size, "Result: the probe could not judge this library, exit status 2: %s",
                Run().stopCause);
    } else if (first != nullptr) {
        status = 1;
        AddLine(buffer, size, "Result: this library breaks the tool, exit status 1: %s: %s",
                firstId, first->detail);
    } else if (copes > 0) {
        AddLine(buffer, size,
                "Result: nothing seen breaks the tool, exit status 0; it copes with %u "
                "difference(s) noted below",
                static_cast<unsigned>(copes));
    } else {
        AddLine(buffer, size,
                "Result: nothing seen breaks the tool, exit status 0; every assumption seen holds");
    }
    for (size_t i = 0; i < kAssumptionCount; ++i)
        if (judgements[i].verdict == Verdict::Breaks)
            AddLine(buffer, size, "  breaks the tool: %s: %s", kAssumptions[i].id,
                    judgements[i].detail);
    for (size_t i = 0; i < kAssumptionCount; ++i)
        if (judgements[i].verdict == Verdict::Copes)
            AddLine(buffer, size, "  the tool copes: %s: %s", kAssumptions[i].id,
                    judgements[i].detail);
    return status;
}
