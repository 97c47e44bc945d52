#include "scenario_support.h"

#include "dialog_remote.h"
#include "resource.h"
#include "screenshot.h"
#include "text_util.h"

const char* const kTwoDevices = "device 1 uid=3A017F0012C4 boot=0210 name=PROG-A\n"
                                "device 2 uid=5C22910047E1 boot=0211 name=PROG-B\n";
const wchar_t* const kLabelA = L"1#ISP DEV:3A-01-7F-00-12-C4";
const wchar_t* const kLabelB = L"2#ISP DEV:5C-22-91-00-47-E1";
const wchar_t* const kInfoA = L"UID:3A-01-7F-00-12-C4,BTVER:0210";
const wchar_t* const kInfoB = L"UID:5C-22-91-00-47-E1,BTVER:0211";

namespace {
const wchar_t* const kAppFiles[] = {L"ProgrammerSetup.exe", L"TAMLAISPDLL.DLL"};
constexpr size_t kImageSize = 0xF000;
} // namespace

std::wstring RunLine(const wchar_t* label, const wchar_t* step) {
    return std::wstring(L"<") + label + L"> " + step;
}

std::wstring Describe(const std::vector<std::wstring>& lines) {
    if (lines.empty())
        return L"(no lines)\n";
    return L"\n" + JoinLines(lines);
}

void ScenarioContext::Fail(const std::wstring& what) {
    ++failures_;
    Out(L"    FAIL %ls\n", what.c_str());
    if (failures_ == 1) {
        std::wstring shot = JoinPath(runFolder_, L"failure.bmp");
        if (SaveScreenshot(shot))
            Out(L"    screenshot: %ls\n", shot.c_str());
    }
}

bool ScenarioContext::Check(bool ok, const std::wstring& what, const std::wstring& expected,
                            const std::wstring& seen) {
    if (!ok)
        Fail(what + L"\n      expected: " + expected + L"\n      seen:     " + seen);
    return ok;
}

bool ScenarioContext::CheckEqual(const std::wstring& what, const std::wstring& expected,
                                 const std::wstring& seen) {
    return Check(expected == seen, what, L"\"" + expected + L"\"", L"\"" + seen + L"\"");
}

bool ScenarioContext::CheckEqual(const std::wstring& what, long long expected, long long seen) {
    return Check(expected == seen, what, Format(L"%lld", expected), Format(L"%lld", seen));
}

bool ScenarioContext::CheckLines(const std::wstring& what,
                                 const std::vector<std::wstring>& expected,
                                 const std::vector<std::wstring>& seen) {
    return Check(expected == seen, what, Describe(expected), Describe(seen));
}

ToolSession::ToolSession(ScenarioContext& context)
    : context_(context), appFolder_(JoinPath(context.RunFolder(), L"app")),
      sim_(JoinPath(context.RunFolder(), L"sim")) {}

ToolSession::~ToolSession() {
    if (IsRunning(process_)) {
        // Take the picture before the window goes, then close as a user would.
        if (context_.Failures() > 0 || process_.dialog == nullptr)
            KillProcess(process_);
        else {
            PostMessageW(process_.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            if (!WaitForExit(process_, 10000)) {
                context_.Fail(L"the tool did not end within 10 s of IDCANCEL");
                KillProcess(process_);
            }
        }
    }
    CloseProcessHandles(process_);
    // Checked for every session, so no scenario that writes can miss it.
    for (const SimCall& call : sim_.CallsOf(L"error"))
        if (Contains(call.details, L"image changed during the write"))
            context_.Fail(L"the tool changed the image buffer during a write: " + call.line);
}

std::wstring ToolSession::ExePath() const { return JoinPath(appFolder_, kAppFiles[0]); }

bool ToolSession::StartWithTwoDevices(const std::string& lines) {
    return Start(std::string(kTwoDevices) + lines);
}

bool ToolSession::BeginConfigure(const wchar_t* label, unsigned timeoutMs) {
    return Click(IDC_CONFIGURE) && WaitForLogLine(RunLine(label, L"begin config..."), timeoutMs);
}

bool ToolSession::Start(const std::string& scenario, bool settle) {
    std::wstring error;
    if (!PrepareFolder(appFolder_, context_.Stage(), kAppFiles, 2, error)) {
        context_.Fail(error);
        return false;
    }
    if (!sim_.Prepare(scenario)) {
        context_.Fail(L"cannot prepare the simulator folder " + sim_.Folder());
        return false;
    }
    if (!LaunchProgram(ExePath(), sim_.Folder(), process_, error) ||
        !WaitForDialog(process_, kStartTimeoutMs, error)) {
        context_.Fail(L"start: " + error);
        return false;
    }
    return !settle || WaitSettled(1, kStartTimeoutMs);
}

bool ToolSession::WaitSettled(size_t enumCalls, unsigned timeoutMs) {
    bool ok = WaitFor(
        [&] {
            return sim_.CountOf(L"Tamla_EnumDevices") >= enumCalls &&
                   IsEnabled(Dialog(), IDC_FIND_DEVICES) && IsEnabled(Dialog(), IDC_CONFIGURE);
        },
        timeoutMs);
    if (!ok)
        context_.Fail(Format(L"the search did not end within %u ms (%zu Tamla_EnumDevices calls, "
                             L"buttons %ls)\n      log:%ls",
                             timeoutMs, sim_.CountOf(L"Tamla_EnumDevices"),
                             IsEnabled(Dialog(), IDC_FIND_DEVICES) ? L"enabled" : L"disabled",
                             Describe(LogLines()).c_str()));
    return ok;
}

std::vector<std::wstring> ToolSession::LogLines() {
    return SplitLines(ReadText(Dialog(), IDC_LOG));
}

bool ToolSession::WaitForLogLine(const std::wstring& line, unsigned timeoutMs) {
    bool ok = WaitFor(
        [&] {
            for (const std::wstring& seen : LogLines())
                if (seen == line)
                    return true;
            return false;
        },
        timeoutMs);
    if (!ok)
        context_.Fail(Format(L"log line \"%ls\" did not appear within %u ms; log:%ls", line.c_str(),
                             timeoutMs, Describe(LogLines()).c_str()));
    return ok;
}

bool ToolSession::WaitForLogLineCount(size_t count, unsigned timeoutMs) {
    bool ok = WaitFor([&] { return LogLines().size() >= count; }, timeoutMs);
    if (!ok)
        context_.Fail(Format(L"the log did not reach %zu lines within %u ms; log:%ls", count,
                             timeoutMs, Describe(LogLines()).c_str()));
    return ok;
}

bool ToolSession::WaitForListCount(size_t count, unsigned timeoutMs) {
    bool ok =
        WaitFor([&] { return ComboEntries(Dialog(), IDC_DEVICE_LIST).size() == count; }, timeoutMs);
    if (!ok)
        context_.Fail(Format(L"the device list did not reach %zu entries within %u ms; entries:%ls",
                             count, timeoutMs,
                             Describe(ComboEntries(Dialog(), IDC_DEVICE_LIST)).c_str()));
    return ok;
}

bool ToolSession::WaitForButtons(bool enabled, unsigned timeoutMs) {
    bool ok = WaitFor(
        [&] {
            return IsEnabled(Dialog(), IDC_FIND_DEVICES) == enabled &&
                   IsEnabled(Dialog(), IDC_CONFIGURE) == enabled;
        },
        timeoutMs);
    if (!ok)
        context_.Fail(Format(L"the buttons did not become %ls within %u ms",
                             enabled ? L"enabled" : L"disabled", timeoutMs));
    return ok;
}

bool ToolSession::Click(int id) {
    std::wstring why;
    if (ClickButton(Dialog(), id, why))
        return true;
    context_.Fail(Format(L"cannot click %d: ", id) + why);
    return false;
}

bool ToolSession::Check(int id, bool checked) {
    std::wstring why;
    if (SetCheck(Dialog(), id, checked, why))
        return true;
    context_.Fail(Format(L"cannot %ls box %d: ", checked ? L"check" : L"uncheck", id) + why);
    return false;
}

bool ToolSession::Command(const std::string& lines, unsigned timeoutMs) {
    std::wstring error;
    if (sim_.Command(lines, timeoutMs, error))
        return true;
    context_.Fail(error);
    return false;
}

bool ToolSession::Responsive(unsigned timeoutMs) {
    double latency = PingMs(Dialog(), timeoutMs);
    return context_.Check(IsRunning(process_) && latency >= 0, L"the dialog thread answers",
                          Format(L"an answer within %u ms", timeoutMs),
                          IsRunning(process_) ? L"no answer" : L"the process has ended");
}

bool ExpectedImage(const ImageOptions& options, std::string& image, std::wstring& error) {
    std::string payload;
    std::wstring path = JoinPath(FolderOfThisProgram(), L"firmware.bin");
    if (!ReadWholeFile(path, payload) || payload.empty() || payload.size() > 0x9BF0) {
        error = L"cannot read a usable payload from " + path;
        return false;
    }
    image.assign(kImageSize, char(0xFF));
    image.replace(0, payload.size(), payload);
    auto putMsbFirst = [&](size_t offset, uint32_t value) {
        image[offset] = char(value >> 24);
        image[offset + 1] = char(value >> 16);
        image[offset + 2] = char(value >> 8);
        image[offset + 3] = char(value);
    };
    if (options.countLimitSet)
        putMsbFirst(0x9BF0, options.countLimit);
    image[0x9C04] = char(options.port);
    if (options.waitMs != 0)
        putMsbFirst(0x9C08, options.waitMs);
    if (options.machineSignal)
        image[0x9C0C] = char(0xAA);
    if (options.keepPower)
        image[0x9C10] = char(0xAA);
    for (size_t i = 0; i < 14; ++i)
        image[0xA000 + i] = char(0xBB);
    return true;
}

void CheckFlashDump(ScenarioContext& context, Simulator& sim, const SimCall& call,
                    const ImageOptions& options) {
    std::string expected;
    std::string seen;
    std::wstring error;
    if (!ExpectedImage(options, expected, error)) {
        context.Fail(error);
        return;
    }
    if (!sim.ReadDump(call.dump, seen)) {
        context.Fail(L"no flash dump for: " + call.line);
        return;
    }
    if (!context.CheckEqual(L"flash dump size of " + call.dump, static_cast<long long>(kImageSize),
                            static_cast<long long>(seen.size())))
        return;
    std::wstring differences;
    int shown = 0;
    size_t count = 0;
    for (size_t i = 0; i < kImageSize; ++i) {
        if (expected[i] == seen[i])
            continue;
        ++count;
        if (shown++ < 8)
            differences += Format(L" 0x%04zX: %02X not %02X;", i, unsigned(uint8_t(seen[i])),
                                  unsigned(uint8_t(expected[i])));
    }
    context.Check(count == 0, L"flash dump " + call.dump + L" matches the expected image",
                  L"all 61440 bytes equal",
                  Format(L"%zu bytes differ (seen not expected):", count) + differences);
}

void CheckOptionDump(ScenarioContext& context, ToolSession& session, const SimCall& call) {
    std::string bytes;
    if (!session.Sim().ReadDump(call.dump, bytes)) {
        context.Fail(L"no option dump for: " + call.line);
        return;
    }
    if (!context.CheckEqual(L"option dump size of " + call.dump, 901,
                            static_cast<long long>(bytes.size())))
        return;
    auto u8 = [&](size_t offset) { return unsigned(uint8_t(bytes[offset])); };
    auto u32 = [&](size_t offset) {
        return uint32_t(u8(offset)) | uint32_t(u8(offset + 1)) << 8 |
               uint32_t(u8(offset + 2)) << 16 | uint32_t(u8(offset + 3)) << 24;
    };
    std::wstring wrong;
    auto expectByte = [&](size_t offset, unsigned value) {
        if (u8(offset) != value)
            wrong += Format(L" [%zu]=%02X not %02X;", offset, u8(offset), value);
    };
    for (size_t i = 0; i < 901; ++i) {
        bool set = i == 4 || i == 848 || (i >= 14 && i < 22) || (i >= 853 && i < 857) ||
                   (i >= 865 && i < 869);
        if (!set)
            expectByte(i, 0);
    }
    expectByte(4, 0x59);
    expectByte(848, 1);
    for (size_t offset : {size_t(14), size_t(18), size_t(853)})
        if (u32(offset) != 1)
            wrong += Format(L" int32 at %zu = %u not 1;", offset, u32(offset));
    context.Check(wrong.empty(), L"option record " + call.dump,
                  L"zero except [4]=59, int32 1 at 14/18/853, [848]=01, callback at 865",
                  wrong.empty() ? L"as expected" : wrong);

    // The base stays 64 bits wide: an x64 image above 4 GiB must not pass
    // because both numbers were cut to 32 bits.
    uint64_t callback = u32(865);
    uint64_t base = 0;
    uint32_t size = 0;
    if (!MainModuleRange(session.Process(), base, size)) {
        context.Fail(L"cannot read the exe's module range");
        return;
    }
    bool inside = callback >= base && callback - base < size;
    context.Check(inside && RvaIsExecutable(session.ExePath(), uint32_t(callback - base)),
                  L"callback address in the option record lies in the exe's code",
                  Format(L"an address in an executable section of 0x%08llX..0x%08llX",
                         static_cast<unsigned long long>(base),
                         static_cast<unsigned long long>(base + size)),
                  Format(L"0x%08llX", static_cast<unsigned long long>(callback)));
}
