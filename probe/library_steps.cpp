#include "library_steps.h"

#include "callback_watch.h"
#include "device_text.h"
#include "guarded_calls.h"
#include "isp_option_record.h"
#include "probe_report.h"
#include "probe_run.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
constexpr uint8_t kFill = 0xA5;
constexpr size_t kTableBytes = sizeof(IspDeviceInfo) * kProbeTableRecords;

// The probe's table ends where a no-access page begins.
IspDeviceInfo* g_table = nullptr;

// The fields of the option record by offset, for naming changed bytes.
struct Field {
    size_t offset;
    size_t width;
    const char* name;
};
constexpr size_t kInt = sizeof(int32_t);
constexpr Field kFields[] = {
    {isp_option::kMode, kInt, "mode"},
    {isp_option::kChipType, sizeof(uint8_t), "chip type"},
    {isp_option::kInt6, kInt, "integer at 6"},
    {isp_option::kInt10, kInt, "integer at 10"},
    {isp_option::kInt14, kInt, "integer at 14"},
    {isp_option::kInt18, kInt, "integer at 18"},
    {isp_option::kInt22, kInt, "integer at 22"},
    {isp_option::kInt52, kInt, "integer at 52"},
    {isp_option::kInt56, kInt, "integer at 56"},
    {isp_option::kInt60, kInt, "integer at 60"},
    {isp_option::kPath1, isp_option::kPathSize, "first path"},
    {isp_option::kPath2, isp_option::kPathSize, "second path"},
    {isp_option::kSerialNoKey, kInt, "serial key-free download"},
    {isp_option::kFlag848, sizeof(uint8_t), "flag byte"},
    {isp_option::kEventNotify, kInt, "event notification"},
    {isp_option::kCallback, sizeof(uint32_t), "callback"},
};

// The bytes of a device record the tool carries but does not read.
struct Unread {
    size_t offset;
    size_t width;
};
constexpr Unread kUnread[] = {
    {offsetof(IspDeviceInfo, reserved1), sizeof(IspDeviceInfo::reserved1)},
    {offsetof(IspDeviceInfo, reserved2), sizeof(IspDeviceInfo::reserved2)},
    {offsetof(IspDeviceInfo, reserved3), sizeof(IspDeviceInfo::reserved3)},
};

// Programmers whose records were decoded, each counted once however many
// searches returned it.
IspDeviceInfo g_named[kSearches * kIspDeviceSlots];

const Field* FieldAt(size_t offset) {
    for (const Field& field : kFields)
        if (offset >= field.offset && offset < field.offset + field.width)
            return &field;
    return nullptr;
}

// Each changed byte, in runs that stay inside one field and 16 bytes.
void ReportChanges(const IspOption& before, const IspOption& after, RegistrationSeen* seen) {
    size_t offset = 0;
    while (offset < kIspOptionSize) {
        if (before.bytes[offset] == after.bytes[offset]) {
            ++offset;
            continue;
        }
        const Field* field = FieldAt(offset);
        size_t end = offset;
        while (end < kIspOptionSize && end - offset < 16 && before.bytes[end] != after.bytes[end] &&
               FieldAt(end) == field)
            ++end;
        for (size_t i = offset; i < end; ++i) {
            ++seen->changedBytes;
            if (i >= isp_option::kMode + kInt) {
                if (seen->changedOutsideMode++ == 0)
                    seen->firstChangeOutsideMode = static_cast<uint32_t>(i);
            }
        }
        char was[64];
        char now[64];
        HexBytes(was, sizeof was, before.bytes + offset, end - offset);
        HexBytes(now, sizeof now, after.bytes + offset, end - offset);
        if (end - offset == 1)
            Report("    offset %u (%s): %s -> %s", static_cast<unsigned>(offset),
                   field != nullptr ? field->name : "not set by the tool", was, now);
        else
            Report("    offsets %u-%u (%s): %s -> %s", static_cast<unsigned>(offset),
                   static_cast<unsigned>(end - 1),
                   field != nullptr ? field->name : "not set by the tool", was, now);
        offset = end;
    }
}

bool SlotAll(uint32_t slot, uint8_t value) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&g_table[slot]);
    for (size_t i = 0; i < kIspDeviceInfoSize; ++i)
        if (bytes[i] != value)
            return false;
    return true;
}

bool SlotTouched(uint32_t slot) { return !SlotAll(slot, kFill); }

void ReportUnreadBytes(const IspDeviceInfo& device) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&device);
    char line[128] = "";
    size_t used = 0;
    for (const Unread& range : kUnread) {
        char hex[32];
        HexBytes(hex, sizeof hex, bytes + range.offset, range.width);
        used += static_cast<size_t>(
            std::snprintf(line + used, sizeof line - used, "%s%u-%u %s", used == 0 ? "" : ", ",
                          static_cast<unsigned>(range.offset),
                          static_cast<unsigned>(range.offset + range.width - 1), hex));
    }
    Report("        bytes the tool does not read: %s", line);
}

void NoteName(const IspDeviceInfo& device, bool terminated) {
    ProbeRun& run = Run();
    for (uint32_t i = 0; i < run.namedDevices; ++i)
        if (SameDevice(g_named[i], device))
            return;
    if (run.namedDevices == sizeof g_named / sizeof g_named[0])
        return;
    g_named[run.namedDevices++] = device;
    run.unterminatedNames += terminated ? 0 : 1;
}

// One record decoded as the tool decodes it, with the texts it would show.
void ReportRecord(uint32_t slot) {
    const IspDeviceInfo& device = g_table[slot];
    const void* zero = std::memchr(device.name, 0, kIspDeviceNameSize);
    char name[256];
    Utf8FromCp936(name, sizeof name, device.name, kIspDeviceNameSize);
    char terminated[96];
    if (zero != nullptr)
        std::snprintf(terminated, sizeof terminated, "terminated after %u bytes",
                      static_cast<unsigned>(static_cast<const char*>(zero) - device.name));
    else
        std::snprintf(terminated, sizeof terminated,
                      "NOT terminated within its %u bytes: the tool shows all %u",
                      static_cast<unsigned>(kIspDeviceNameSize),
                      static_cast<unsigned>(kIspDeviceNameSize));
    NoteName(device, zero != nullptr);
    const uint8_t* u = device.uniqueId;
    Report("    slot %u: id %d, boot version %04X, unique id %02X-%02X-%02X-%02X-%02X-%02X, "
           "name \"%s\" (%s)",
           static_cast<unsigned>(slot), static_cast<int>(device.deviceId),
           static_cast<unsigned>(device.bootVersion), u[0], u[1], u[2], u[3], u[4], u[5], name,
           terminated);
    char label[128];
    char info[128];
    if (Run().toolMode == 1)
        FormatNameLabel(label, sizeof label, device);
    else
        FormatUidLabel(label, sizeof label, device);
    FormatInfoLine(info, sizeof info, device);
    char shown[256];
    Utf8FromCp936(shown, sizeof shown, label, sizeof label);
    Report("        the tool lists \"%s\" (mode %d) and shows \"%s\"", shown,
           static_cast<int>(Run().toolMode), info);
    ReportUnreadBytes(device);
}

void ReportWrites(const SearchSeen& seen) {
    uint32_t cleared = 0;
    for (uint32_t slot = seen.written; slot < kProbeTableRecords; ++slot)
        cleared += SlotAll(slot, 0) ? 1 : 0;
    if (cleared > 0)
        Report("  %u record(s) written, and %u slot(s) after them set to zero",
               static_cast<unsigned>(seen.written), static_cast<unsigned>(cleared));
    else
        Report("  %u record(s) written", static_cast<unsigned>(seen.written));
    const uint32_t room = seen.maxCount + kToolSpareRecords;
    if (seen.pastRoom > 0)
        Report("  WROTE PAST THE TOOL'S ROOM: %u record(s) past maxCount, %u of them past the %u "
               "records the tool would have (maxCount and its %u spare)",
               static_cast<unsigned>(seen.pastMaxCount), static_cast<unsigned>(seen.pastRoom),
               static_cast<unsigned>(room), static_cast<unsigned>(kToolSpareRecords));
    else if (seen.pastMaxCount > 0)
        Report("  wrote past maxCount: %u record(s) after the %u it was given, within the tool's "
               "%u spare",
               static_cast<unsigned>(seen.pastMaxCount), static_cast<unsigned>(seen.maxCount),
               static_cast<unsigned>(kToolSpareRecords));
    else
        Report("  nothing written past the %u record(s) it was given",
               static_cast<unsigned>(seen.maxCount));
}

SearchSeen Search(uint32_t maxCount, const char* title) {
    std::memset(g_table, kFill, kTableBytes);
    Report("%s", title);
    const CallOutcome outcome = GuardedEnumDevices(g_table, maxCount);
    SearchSeen seen{};
    seen.done = true;
    seen.maxCount = maxCount;
    seen.result = outcome.result;
    seen.ms = outcome.ms;
    seen.stackLeft = outcome.stackLeft;
    // A library may clear the slots it was given before filling them: zeros
    // count as written only where they overrun.
    for (uint32_t slot = 0; slot < kProbeTableRecords; ++slot) {
        if (!SlotTouched(slot))
            continue;
        if (!SlotAll(slot, 0))
            seen.written = slot + 1;
        if (slot >= maxCount)
            ++seen.pastMaxCount;
        if (slot >= maxCount + kToolSpareRecords)
            ++seen.pastRoom;
    }
    char stack[128];
    StackText(stack, sizeof stack, outcome.stackLeft, 8);
    Report("  result %d in %.1f ms; %s", static_cast<int>(outcome.result), outcome.ms, stack);
    ReportWrites(seen);
    const uint32_t decoded = seen.written < kIspDeviceSlots ? seen.written : kIspDeviceSlots;
    // Records shown once already are not shown again.
    static IspDeviceInfo s_shown[kIspDeviceSlots];
    static uint32_t s_shownCount = 0;
    if (decoded > 0 && s_shownCount == decoded &&
        std::memcmp(s_shown, g_table, decoded * sizeof(IspDeviceInfo)) == 0) {
        Report("    the same record(s) as the search before");
        return seen;
    }
    for (uint32_t slot = 0; slot < decoded; ++slot) {
        if (SlotTouched(slot))
            ReportRecord(slot);
        else
            Report("    slot %u: not written", static_cast<unsigned>(slot));
    }
    std::memcpy(s_shown, g_table, decoded * sizeof(IspDeviceInfo));
    s_shownCount = decoded;
    return seen;
}
} // namespace

bool PrepareSearchTable() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t body = (kTableBytes + page - 1) / page * page;
    uint8_t* region = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, body + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (region == nullptr || !VirtualProtect(region + body, page, PAGE_NOACCESS, &old))
        return false;
    g_table = reinterpret_cast<IspDeviceInfo*>(region + body - kTableBytes);
    Run().tableGuard = reinterpret_cast<uintptr_t>(region + body);
    Run().tableGuardSize = page;
    return true;
}

void RunRegistrations() {
    Run().phase = Phase::Registering;
    for (size_t n = 0; n < kRegistrations; ++n) {
        IspOption record = BuildIspOption(false, &ProbeCallback);
        const IspOption before = record;
        Report("Registration %u of %u: Tamla_SetIspOption with the record the tool builds at "
               "start-up",
               static_cast<unsigned>(n + 1), static_cast<unsigned>(kRegistrations));
        const uint32_t field = IspGetU32(record, isp_option::kCallback);
        if (field == 0)
            Report("  the probe's callback does not fit the record's 4-byte field: registered "
                   "without one");
        const CallOutcome outcome = GuardedSetIspOption(&record);
        RegistrationSeen& seen = Run().registrations[n];
        seen.result = outcome.result;
        seen.ms = outcome.ms;
        seen.stackLeft = outcome.stackLeft;
        seen.modeAfter = static_cast<int32_t>(IspGetU32(record, isp_option::kMode));
        char stack[128];
        StackText(stack, sizeof stack, outcome.stackLeft, 4);
        Report("  result %d (%s) in %.1f ms; %s", static_cast<int>(outcome.result),
               outcome.result != 0 ? "accepted" : "refused", outcome.ms, stack);
        Report("  callback field 0x%08X (the probe's own callback)", static_cast<unsigned>(field));
        if (std::memcmp(before.bytes, record.bytes, kIspOptionSize) == 0)
            Report("  the library changed no byte of the record");
        else
            Report("  bytes the library changed during the call (before -> after):");
        ReportChanges(before, record, &seen);
        seen.done = true;
        // What the tool keeps: the record as left after an accepted call,
        // zeros after a refusal.
        Run().toolMode = outcome.result != 0 ? seen.modeAfter : 0;
        Report("  mode the tool reads afterwards: %d (%s)", static_cast<int>(Run().toolMode),
               Run().toolMode == 1 ? "it labels devices by name"
                                   : "it labels devices by unique id");
        if (n == 0)
            AllowLockCheck(outcome.ms);
    }
}

void RunSearches() {
    Run().phase = Phase::Searching;
    char title[192];
    for (size_t n = 0; n < kFullSearches; ++n) {
        std::snprintf(title, sizeof title,
                      "Search %u of %u: Tamla_EnumDevices, maxCount %u, a table of %u records "
                      "(the tool's has %u) and a no-access page after it",
                      static_cast<unsigned>(n + 1), static_cast<unsigned>(kSearches),
                      static_cast<unsigned>(kIspDeviceSlots),
                      static_cast<unsigned>(kProbeTableRecords),
                      static_cast<unsigned>(kIspSearchRecords));
        Run().searches[n] = Search(kIspDeviceSlots, title);
    }
    // Fewer slots than programmers: what a library does when more are
    // attached than the tool's maxCount. Never 0, which the tool never passes.
    const int32_t found = Run().searches[kFullSearches - 1].result;
    if (found <= 1) {
        Run().smallSearch = found <= 0 ? SmallSearch::NoneFound : SmallSearch::OneFound;
        Report("Search %u of %u: not made, as %s", static_cast<unsigned>(kSearches),
               static_cast<unsigned>(kSearches),
               found <= 0 ? "no programmer was found"
                          : "one programmer was found: a smaller maxCount would be 0, which the "
                            "tool never passes");
        return;
    }
    const int32_t slots = static_cast<int32_t>(kIspDeviceSlots);
    const uint32_t smaller = static_cast<uint32_t>(found > slots ? slots : found) - 1;
    std::snprintf(title, sizeof title,
                  "Search %u of %u: Tamla_EnumDevices, maxCount %u, fewer than the %d "
                  "programmer(s) found",
                  static_cast<unsigned>(kSearches), static_cast<unsigned>(kSearches),
                  static_cast<unsigned>(smaller), static_cast<int>(found));
    Run().searches[kFullSearches] = Search(smaller, title);
}

uint32_t SearchForWatch(IspDeviceInfo* table, const char* what) {
    std::memset(g_table, kFill, kTableBytes);
    const CallOutcome outcome = GuardedEnumDevices(g_table, kIspDeviceSlots);
    std::memcpy(table, g_table, sizeof(IspDeviceInfo) * kIspDeviceSlots);
    Report("  %s: result %d in %.1f ms", what, static_cast<int>(outcome.result), outcome.ms);
    if (outcome.result < 0)
        return 0;
    return outcome.result > static_cast<int32_t>(kIspDeviceSlots)
               ? kIspDeviceSlots
               : static_cast<uint32_t>(outcome.result);
}

void DeviceShortText(char* buffer, size_t size, const IspDeviceInfo& device) {
    char name[128];
    Utf8FromCp936(name, sizeof name, device.name, kIspDeviceNameSize);
    const uint8_t* u = device.uniqueId;
    std::snprintf(buffer, size, "id %d \"%s\" (%02X-%02X-%02X-%02X-%02X-%02X)",
                  static_cast<int>(device.deviceId), name, u[0], u[1], u[2], u[3], u[4], u[5]);
}
