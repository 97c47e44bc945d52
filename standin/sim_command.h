// Commands that script the simulated programmers: one per line, in the
// scenario file and in the files dropped into the command folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class SimCommandKind {
    Device,            // device ID [uid=..] [boot=..] [name=..]: attach silently
    Plug,              // plug ID [...]: attach and fire an arrival
    Unplug,            // unplug ID
    UnplugAll,         // unplug-all
    OptionResult,      // option-result 0|1
    Mode,              // mode N | mode off
    FlashResult,       // flash-result 0|1
    FlashMs,           // flash-ms N
    UnplugDuringWrite, // unplug-during-write ID
    UnplugAfterSearch, // unplug-after-search ID
    EnumCount,         // enum-count N | enum-count off
    UnterminatedNames, // unterminated-names on|off
    Event,             // event CODE MASK COUNT
    Storm,             // storm N [CODE]
    Wait,              // wait MS
    EnumMs,            // enum-ms N: how long each search takes
    SyncCallbacks,     // callbacks-in-calls on|off
    LockedCallbacks,   // callbacks-under-lock on|off
    RescanMs,          // rescan-ms N: how long the event thread rescans before a callback
};

// A device as a command names it; fields not given get defaults from the id.
struct SimDeviceFields {
    uint32_t id = 0;
    bool hasUid = false;
    uint8_t uid[6] = {};
    bool hasBoot = false;
    uint16_t boot = 0;
    bool hasName = false;
    std::string name;
};

struct SimCommand {
    SimCommandKind kind = SimCommandKind::Wait;
    SimDeviceFields device; // Device, Plug; device.id also for Unplug and the armed unplugs
    bool enabled = true;    // false for "mode off", "enum-count off", "... off"
    int32_t code = 0;       // Event, Storm; the mode for Mode
    uint32_t value = 0;     // OptionResult, FlashResult, the ms settings, EnumCount, Storm, Wait
    uint32_t mask = 0;      // Event
    uint32_t count = 0;     // Event
};

// Limits that keep a script from stalling the simulator for hours.
constexpr uint32_t kSimMaxMillis = 600000;
constexpr uint32_t kSimMaxStorm = 100000;
constexpr size_t kSimMaxNameLength = 49; // the record keeps a terminator in 50 bytes

enum class SimParse { Command, Blank, Error };

// Parses one line. Text from '#' on is a comment; a trailing CR is ignored.
// On Error, `error` says what was wrong.
SimParse ParseSimCommand(std::string_view line, SimCommand& out, std::string& error);

// The line without its comment and surrounding blanks, for the call log.
std::string_view SimCommandText(std::string_view line);

// A script (scenario file or command file) split into its lines, without
// line ends; blank and comment lines are kept so error messages can name
// the line number.
std::vector<std::string> SplitScriptLines(std::string_view text);

// Index of the first line that is a valid `wait` command, or lines.size().
// Lines before it take effect at once when the library starts; the rest run
// on a thread of their own, so a scenario can script a timeline.
size_t FirstWaitLine(const std::vector<std::string>& lines);
