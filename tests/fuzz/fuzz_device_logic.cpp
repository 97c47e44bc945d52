// Drives the device logic with whatever a misbehaving library, an odd dialog
// state or a user could produce, and checks what must always hold: the list
// never outgrows the table, every write passes a whole image with its marker,
// runs always end, and numbers read as the platform reads them.
#include "config_image.h"
#include "config_run.h"
#include "device_coordination.h"
#include "device_discovery.h"
#include "device_events.h"
#include "dialog_access.h"
#include "dialog_commands.h"
#include "fake_dialog.h"
#include "fake_library.h"
#include "fake_platform.h"
#include "isp_options.h"
#include "resource.h"
#include "shared_state.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The reading of a number text, worked out on the digit string itself.
uint32_t ReferenceReading(const std::string& text) {
    const std::string blanks(" \t\r\n\v\f");
    size_t start = 0;
    while (start < text.size() && blanks.find(text[start]) != std::string::npos)
        ++start;
    size_t end = start;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == start)
        return 0;
    std::string digits = text.substr(start, end - start);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits.size() > 10 || (digits.size() == 10 && digits > "4294967295"))
        return 0;
    return uint32_t(std::stoull(digits));
}

void CheckList(FakeDialog& dialog) {
    FakeDialog::Control list = dialog.Get(IDC_DEVICE_LIST);
    Check(list.entries.size() <= kDeviceSlots, "list holds at most 16 entries");
}

// Every write the library saw since `from` passed a whole image.
void CheckWrites(size_t from) {
    std::vector<FlashCall> calls = FakeLibrary::Instance().FlashCalls();
    for (size_t i = from; i < calls.size(); ++i) {
        Check(calls[i].length == kConfigImageSize, "image length is 61440");
        Check(calls[i].args[0] == 1 && calls[i].args[1] == 0 && calls[i].args[2] == 0 &&
                  calls[i].args[3] == 0,
              "write arguments 1,0,0,0");
    }
    if (calls.size() > from) {
        const std::vector<uint8_t> image = FakeLibrary::Instance().LastImage();
        Check(image.size() == kConfigImageSize, "the library kept the last image");
        for (uint32_t k = 0; k < config_block::kMarkerLength; ++k)
            Check(image[config_block::kMarker + k] == 0xBB, "image carries the marker");
        Check(image[config_block::kPortSelect] < 8, "port byte is 0..7");
    }
}

std::vector<IspDeviceInfo> ConsumeDevices(FuzzedDataProvider& in) {
    std::vector<IspDeviceInfo> devices(in.ConsumeIntegralInRange<size_t>(0, 20));
    for (IspDeviceInfo& device : devices) {
        std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(sizeof(IspDeviceInfo));
        raw.resize(sizeof(IspDeviceInfo), in.ConsumeIntegral<uint8_t>());
        std::memcpy(&device, raw.data(), sizeof(device));
    }
    return devices;
}

const std::vector<uint8_t>& BuildPayload() {
    static const std::vector<uint8_t> payload = fake_platform::BuildPayload();
    return payload;
}

// Returns whether the payload chosen is one an image can be made from.
bool ChoosePayload(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        fake_platform::SetPayload(BuildPayload());
        return true;
    case 1:
        fake_platform::SetPayloadMissing();
        return false;
    default: {
        const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, kMaxPayloadSize + 64);
        fake_platform::SetPayload(std::vector<uint8_t>(size, in.ConsumeIntegral<uint8_t>()));
        return size != 0 && size <= kMaxPayloadSize;
    }
    }
}

const int kCommands[] = {IDC_CONFIGURE,   IDC_FIND_DEVICES,   IDC_CLEAR_LOG,
                         IDC_DEVICE_LIST, IDC_PLUG_NOTIFY,    IDC_AUTO_DOWNLOAD,
                         IDC_LIMIT_COUNT, IDC_SET_ISP_OPTION, 1};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    FakeLibrary& library = FakeLibrary::Instance();
    library.Reset();
    library.KeepImages(false);
    fake_platform::Reset();
    fake_platform::SetEchoDebugOutput(false);
    fake_platform::SetPayload(BuildPayload());
    ResetSharedState();
    FakeDialog dialog;
    dialog.Choose(IDC_PORT_SELECT, 0);
    SetDialogAccess(&dialog);

    int32_t modeLeft = 0; // the mode the library writes during registration
    bool searchFails = false;
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        const size_t writesBefore = library.FlashCallCount();
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            library.SetDevices(ConsumeDevices(in));
            break;
        case 1:
            searchFails = false;
            if (in.ConsumeBool()) {
                const int32_t result = in.ConsumeIntegral<int32_t>();
                searchFails = result < 0;
                library.SetEnumResult(result);
            } else {
                library.SetEnumResult(std::nullopt);
            }
            break;
        case 2: {
            if (in.ConsumeBool()) {
                modeLeft = in.ConsumeIntegral<int32_t>();
                library.SetModeOnRegister(modeLeft);
            }
            library.SetOptionResult(in.ConsumeIntegralInRange<int32_t>(-1, 2));
            const bool autoBox = in.ConsumeBool();
            dialog.SetChecked(IDC_AUTO_DOWNLOAD, autoBox);
            dialog.SetChecked(IDC_SERIAL_NOKEY, in.ConsumeBool());
            const int32_t accepted = ApplyIspOptions();
            Check(accepted == 0 || accepted == 1, "registration result is 0 or 1");
            Check(accepted == 1 || CurrentOptionMode() == 0, "a refusal zeroes the copy");
            Check(AutoDownload.load() == (autoBox && modeLeft == 0 ? 1u : 0u),
                  "automatic download needs its box and mode 0");
            break;
        }
        case 3: {
            const FakeDialog::Control before = dialog.Get(IDC_DEVICE_LIST);
            const uint32_t countBefore = DeviceCount.load();
            const uint32_t count = RefreshDeviceList();
            Check(count == DeviceCount.load(), "refresh returns the device count");
            FakeDialog::Control list = dialog.Get(IDC_DEVICE_LIST);
            Check(!RequestPending(), "a search answers the request");
            if (searchFails) {
                Check(count == countBefore && list.entries == before.entries,
                      "a failed search leaves table and list as they were");
                break;
            }
            const size_t expected = count == 0 ? 0 : ValidSlotCount();
            Check(list.entries.size() == expected, "one entry per valid slot");
            // With automatic download a search may answer an arrival that an
            // earlier, failed search kept: its runs select their entries.
            Check(count == 0 || list.selection == 0 || AutoDownload.load() != 0,
                  "entry 0 selected after a search");
            Check(count == 0 ? dialog.Get(IDC_DEVICE_INFO).text.empty()
                             : dialog.Get(IDC_DEVICE_INFO).text.size() == 32,
                  "info line is 32 characters");
            break;
        }
        case 4: {
            if (in.ConsumeBool())
                AutoDownload = in.ConsumeBool() ? 1 : 0;
            const int32_t event =
                in.ConsumeBool() ? kIspEventArrival : in.ConsumeIntegral<int32_t>();
            const int32_t answer = OnDeviceEvent(event, in.ConsumeIntegral<uint32_t>(),
                                                 in.ConsumeIntegral<uint32_t>());
            Check(answer == 0 || answer == 1, "event answer is 0 or 1");
            break;
        }
        case 5:
            ConfigureDevice(in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 17)
                                             : in.ConsumeIntegral<uint32_t>());
            break;
        case 6: {
            const std::string before = dialog.Get(IDC_DEVICE_INFO).text;
            const int selection = in.ConsumeIntegral<int>();
            dialog.Choose(IDC_DEVICE_LIST, selection);
            ShowDeviceInfo();
            const std::string after = dialog.Get(IDC_DEVICE_INFO).text;
            if (selection < 0 || selection >= int(kDeviceSlots))
                Check(after == before, "no valid selection shows nothing");
            else
                Check(after.size() == 32, "info line is 32 characters");
            break;
        }
        case 7:
            dialog.SetChecked(IDC_LIMIT_COUNT, in.ConsumeBool());
            dialog.SetChecked(IDC_MACHINE_SIGNAL, in.ConsumeBool());
            dialog.SetChecked(IDC_KEEP_POWER, in.ConsumeBool());
            dialog.Type(IDC_COUNT_LIMIT, in.ConsumeRandomLengthString(16));
            dialog.Type(IDC_WAIT_TIME, in.ConsumeRandomLengthString(16));
            dialog.Choose(IDC_PORT_SELECT, in.ConsumeIntegral<int>());
            break;
        case 8: {
            const std::string text = in.ConsumeRandomLengthString(48);
            Check(ParseUnsignedText(text.c_str()) == ReferenceReading(text),
                  "number reading matches the digits");
            break;
        }
        case 9: {
            // A run writes a whole image from a usable payload and nothing
            // from any other (the image itself is checked after the step).
            const bool usable = ChoosePayload(in);
            const bool slotValid = ValidSlotCount() > 0;
            // A search the dialog asked for goes first and may replace the
            // table; presses left waiting may fill the queue.
            const bool searchFirst = RequestPending();
            const size_t linesBefore = dialog.LogLines().size();
            ConfigureDevice(0);
            const bool wrote = library.FlashCallCount() > writesBefore;
            const std::vector<std::string> lines = dialog.LogLines();
            const bool refused =
                lines.size() > linesBefore &&
                lines[linesBefore].rfind("Too many configuration requests", 0) == 0;
            Check(!wrote || usable, "no write from an unusable payload");
            Check(!usable || !slotValid || searchFirst || refused || wrote,
                  "a usable payload is written");
            break;
        }
        case 10:
            HandleDialogCommand(kCommands[in.ConsumeIntegralInRange<size_t>(
                                    0, sizeof(kCommands) / sizeof(kCommands[0]) - 1)],
                                in.ConsumeIntegralInRange<int>(0, 5));
            break;
        default:
            // A press, whose worker is left to run later or never.
            AskFromDialog({DialogRequest::Registration::None, false,
                           in.ConsumeIntegralInRange<int32_t>(0, 17)});
            break;
        }
        CheckWrites(writesBefore);
        CheckList(dialog);
    }

    SetDialogAccess(nullptr);
    return 0;
}
