// Parsing of the simulator's command lines. Strict on purpose: a typo in a
// test script should show up as an error line in the call log, not as a
// silently different scenario.
#include "sim_command.h"

#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Unsigned number in decimal, or in hex after "0x" where allowed; anything
// else, an empty word or a value above `max` is rejected.
bool ParseUnsigned(std::string_view word, uint64_t max, uint32_t& out, bool allowHex = false) {
    unsigned base = 10;
    if (allowHex && word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    if (word.empty())
        return false;
    uint64_t value = 0;
    for (char c : word) {
        int digit = HexDigit(c);
        if (digit < 0 || unsigned(digit) >= base)
            return false;
        value = value * base + unsigned(digit);
        if (value > max)
            return false;
    }
    out = uint32_t(value);
    return true;
}

bool ParseSigned(std::string_view word, int32_t& out) {
    bool negative = !word.empty() && word[0] == '-';
    if (negative)
        word.remove_prefix(1);
    uint32_t magnitude = 0;
    if (word.empty() || word[0] == '-' || word[0] == '+')
        return false;
    if (!ParseUnsigned(word, negative ? 0x80000000u : 0x7FFFFFFFu, magnitude))
        return false;
    out = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

bool ParseFixedHex(std::string_view word, size_t digits, uint8_t* bytes) {
    if (word.size() != digits)
        return false;
    for (size_t i = 0; i < digits; i += 2) {
        int hi = HexDigit(word[i]);
        int lo = HexDigit(word[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i / 2] = uint8_t(hi << 4 | lo);
    }
    return true;
}

std::string Quoted(std::string_view word) {
    std::string text(1, '"');
    text.append(word);
    text += '"';
    return text;
}

bool ParseDeviceFields(const std::vector<std::string_view>& words, SimDeviceFields& fields,
                       std::string& error) {
    if (words.size() < 2) {
        error = "missing device id";
        return false;
    }
    if (!ParseUnsigned(words[1], 0xFFFFFFFFu, fields.id)) {
        error = "bad device id " + Quoted(words[1]);
        return false;
    }
    for (size_t i = 2; i < words.size(); ++i) {
        std::string_view word = words[i];
        size_t eq = word.find('=');
        std::string_view key = word.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? "" : word.substr(eq + 1);
        if (eq == std::string_view::npos) {
            error = "expected key=value, got " + Quoted(word);
            return false;
        }
        if (key == "uid") {
            if (fields.hasUid || !ParseFixedHex(value, 12, fields.uid)) {
                error = fields.hasUid ? "uid given twice" : "uid needs 12 hex digits";
                return false;
            }
            fields.hasUid = true;
        } else if (key == "boot") {
            uint8_t boot[2] = {};
            if (fields.hasBoot || !ParseFixedHex(value, 4, boot)) {
                error = fields.hasBoot ? "boot given twice" : "boot needs 4 hex digits";
                return false;
            }
            fields.boot = uint16_t(boot[0] << 8 | boot[1]);
            fields.hasBoot = true;
        } else if (key == "name") {
            if (fields.hasName || value.size() > kSimMaxNameLength) {
                error = fields.hasName ? "name given twice" : "name longer than 49 bytes";
                return false;
            }
            fields.name = std::string(value);
            fields.hasName = true;
        } else {
            error = "unknown field " + Quoted(key);
            return false;
        }
    }
    return true;
}

bool ExpectWords(const std::vector<std::string_view>& words, size_t min, size_t max,
                 std::string& error) {
    if (words.size() < min || words.size() > max) {
        error = std::string(words[0]) +
                (words.size() < min ? ": missing argument" : ": too many arguments");
        return false;
    }
    return true;
}

bool ParseOnOff(std::string_view word, std::string_view on, std::string_view off, bool& out) {
    if (word == on)
        out = true;
    else if (word == off)
        out = false;
    else
        return false;
    return true;
}

bool ParseWords(const std::vector<std::string_view>& words, SimCommand& out, std::string& error) {
    std::string_view verb = words[0];
    auto bad = [&](std::string_view word) {
        error = std::string(verb) + ": bad value " + Quoted(word);
        return false;
    };
    if (verb == "device" || verb == "plug") {
        out.kind = verb == "device" ? SimCommandKind::Device : SimCommandKind::Plug;
        return ParseDeviceFields(words, out.device, error);
    }
    if (verb == "unplug" || verb == "unplug-during-write" || verb == "unplug-after-search") {
        out.kind = verb == "unplug"                ? SimCommandKind::Unplug
                   : verb == "unplug-during-write" ? SimCommandKind::UnplugDuringWrite
                                                   : SimCommandKind::UnplugAfterSearch;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        return ParseDeviceFields(words, out.device, error);
    }
    if (verb == "unplug-all") {
        out.kind = SimCommandKind::UnplugAll;
        return ExpectWords(words, 1, 1, error);
    }
    if (verb == "option-result" || verb == "flash-result") {
        out.kind =
            verb == "option-result" ? SimCommandKind::OptionResult : SimCommandKind::FlashResult;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        if (words[1] != "0" && words[1] != "1")
            return bad(words[1]);
        out.value = words[1] == "1" ? 1 : 0;
        return true;
    }
    if (verb == "mode") {
        out.kind = SimCommandKind::Mode;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        if (words[1] == "off") {
            out.enabled = false;
            return true;
        }
        return ParseSigned(words[1], out.code) || bad(words[1]);
    }
    if (verb == "flash-ms" || verb == "enum-ms" || verb == "rescan-ms" || verb == "wait") {
        out.kind = verb == "wait"        ? SimCommandKind::Wait
                   : verb == "enum-ms"   ? SimCommandKind::EnumMs
                   : verb == "rescan-ms" ? SimCommandKind::RescanMs
                                         : SimCommandKind::FlashMs;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        return ParseUnsigned(words[1], kSimMaxMillis, out.value) || bad(words[1]);
    }
    if (verb == "enum-count") {
        out.kind = SimCommandKind::EnumCount;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        if (words[1] == "off") {
            out.enabled = false;
            return true;
        }
        // The export's result is a signed 32-bit count.
        return ParseUnsigned(words[1], 0x7FFFFFFFu, out.value) || bad(words[1]);
    }
    if (verb == "unterminated-names" || verb == "callbacks-in-calls" ||
        verb == "callbacks-under-lock") {
        out.kind = verb == "unterminated-names"   ? SimCommandKind::UnterminatedNames
                   : verb == "callbacks-in-calls" ? SimCommandKind::SyncCallbacks
                                                  : SimCommandKind::LockedCallbacks;
        if (!ExpectWords(words, 2, 2, error))
            return false;
        return ParseOnOff(words[1], "on", "off", out.enabled) || bad(words[1]);
    }
    if (verb == "event") {
        out.kind = SimCommandKind::Event;
        if (!ExpectWords(words, 4, 4, error))
            return false;
        if (!ParseSigned(words[1], out.code))
            return bad(words[1]);
        if (!ParseUnsigned(words[2], 0xFFFFFFFFu, out.mask, true))
            return bad(words[2]);
        return ParseUnsigned(words[3], 0xFFFFFFFFu, out.count) || bad(words[3]);
    }
    if (verb == "storm") {
        out.kind = SimCommandKind::Storm;
        out.code = 1;
        if (!ExpectWords(words, 2, 3, error))
            return false;
        if (!ParseUnsigned(words[1], kSimMaxStorm, out.value))
            return bad(words[1]);
        return words.size() == 2 || ParseSigned(words[2], out.code) || bad(words[2]);
    }
    error = "unknown command " + Quoted(verb);
    return false;
}

} // namespace

std::string_view SimCommandText(std::string_view line) {
    size_t hash = line.find('#');
    if (hash != std::string_view::npos)
        line = line.substr(0, hash);
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back()))
        line.remove_suffix(1);
    return line;
}

SimParse ParseSimCommand(std::string_view line, SimCommand& out, std::string& error) {
    out = SimCommand{};
    error.clear();
    std::vector<std::string_view> words = SplitWords(SimCommandText(line));
    if (words.empty())
        return SimParse::Blank;
    if (!ParseWords(words, out, error)) {
        out = SimCommand{};
        return SimParse::Error;
    }
    return SimParse::Command;
}

std::vector<std::string> SplitScriptLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

size_t FirstWaitLine(const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        SimCommand command;
        std::string error;
        if (ParseSimCommand(lines[i], command, error) == SimParse::Command &&
            command.kind == SimCommandKind::Wait)
            return i;
    }
    return lines.size();
}
