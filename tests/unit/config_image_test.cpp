#include "config_image.h"
#include "config_run.h"
#include "core_fixture.h"

#include <cstring>
#include <vector>

namespace {
using namespace config_block;

std::vector<uint8_t> Bytes(const ConfigImageBytes& image, uint32_t offset, uint32_t length) {
    return std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + length);
}

// Every byte from `from` to the end that is not one of the block's fields or
// the marker is erased.
void ExpectErasedOutsideFields(const ConfigImageBytes& image, uint32_t from) {
    auto inField = [](uint32_t at) {
        return (at >= kCountLimit && at < kCountLimit + 4) || at == kPortSelect ||
               (at >= kWaitTime && at < kWaitTime + 4) || at == kMachineSignal ||
               at == kKeepPower || (at >= kMarker && at < kMarker + kMarkerLength);
    };
    for (uint32_t at = from; at < kConfigImageSize; ++at) {
        if (!inField(at) && image[at] != kErased) {
            ADD_FAILURE() << "byte 0x" << std::hex << at << " is 0x" << int(image[at]);
            return;
        }
    }
}

// The image a configuration run builds from the option controls, as the
// library receives it.
class ConfigImageTest : public CoreTest {
protected:
    ConfigImageBytes Build() {
        LoadTable({DeviceA()});
        const size_t writes = library.FlashCallCount();
        ConfigureDevice(0);
        ConfigImageBytes image{};
        const std::vector<uint8_t> written = library.LastImage();
        EXPECT_EQ(library.FlashCallCount(), writes + 1);
        EXPECT_EQ(written.size(), image.size());
        std::copy_n(written.begin(), std::min(written.size(), image.size()), image.begin());
        return image;
    }

    // The controls' reads a run made, in order.
    std::vector<std::string> Reads() {
        std::vector<std::string> reads;
        for (const std::string& op : dialog->Operations())
            if (op.rfind("IsChecked", 0) == 0 || op.rfind("ReadUnsigned", 0) == 0 ||
                op.rfind("GetSelection", 0) == 0)
                reads.push_back(op);
        return reads;
    }
};

const std::vector<uint8_t> kFF4{0xFF, 0xFF, 0xFF, 0xFF};
const std::vector<uint8_t> kMarkerBytes(kMarkerLength, 0xBB);
} // namespace

TEST_F(ConfigImageTest, DefaultsLeaveEveryOptionErased) {
    ConfigImageBytes image = Build();
    const std::vector<uint8_t> payload = fake_platform::BuildPayload();
    ASSERT_EQ(payload.size(), size_t(FIRMWARE_SIZE));

    EXPECT_EQ(Bytes(image, 0, uint32_t(payload.size())), payload);
    EXPECT_EQ(image[payload.size()], 0xFF);
    EXPECT_EQ(Bytes(image, kCountLimit, 4), kFF4);
    EXPECT_EQ(image[kPortSelect], 0x00);
    EXPECT_EQ(Bytes(image, kWaitTime, 4), kFF4);
    EXPECT_EQ(image[kMachineSignal], 0xFF);
    EXPECT_EQ(image[kKeepPower], 0xFF);
    EXPECT_EQ(Bytes(image, kMarker, kMarkerLength), kMarkerBytes);
    ExpectErasedOutsideFields(image, uint32_t(payload.size()));
}

TEST_F(ConfigImageTest, EveryOptionSetLandsInItsFieldOnly) {
    dialog->SetChecked(IDC_LIMIT_COUNT, true);
    dialog->Type(IDC_COUNT_LIMIT, "1000");
    dialog->Choose(IDC_PORT_SELECT, 7);
    dialog->Type(IDC_WAIT_TIME, "500");
    dialog->SetChecked(IDC_MACHINE_SIGNAL, true);
    dialog->SetChecked(IDC_KEEP_POWER, true);
    ConfigImageBytes image = Build();

    EXPECT_EQ(Bytes(image, kCountLimit, 4), (std::vector<uint8_t>{0x00, 0x00, 0x03, 0xE8}));
    EXPECT_EQ(image[kPortSelect], 0x07);
    EXPECT_EQ(Bytes(image, kWaitTime, 4), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xF4}));
    EXPECT_EQ(image[kMachineSignal], 0xAA);
    EXPECT_EQ(image[kKeepPower], 0xAA);
    EXPECT_EQ(Bytes(image, kMarker, kMarkerLength), kMarkerBytes);
    ExpectErasedOutsideFields(image, FIRMWARE_SIZE);
}

TEST_F(ConfigImageTest, BothNumbersAreStoredMostSignificantByteFirst) {
    dialog->SetChecked(IDC_LIMIT_COUNT, true);
    dialog->Type(IDC_COUNT_LIMIT, "305419896"); // 0x12345678
    dialog->Type(IDC_WAIT_TIME, "4294967295");
    ConfigImageBytes image = Build();
    EXPECT_EQ(Bytes(image, kCountLimit, 4), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Bytes(image, kWaitTime, 4), kFF4); // all ones, and set
    dialog->Type(IDC_WAIT_TIME, "16909060");     // 0x01020304
    image = Build();
    EXPECT_EQ(Bytes(image, kWaitTime, 4), (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(ConfigImageTest, UnsetOrUnreadableValuesStayErased) {
    // A value typed while the limit is off is neither read nor stored; the
    // wait time does not depend on the limit.
    dialog->Type(IDC_COUNT_LIMIT, "1000");
    dialog->Type(IDC_WAIT_TIME, "500");
    ConfigImageBytes image = Build();
    EXPECT_EQ(Bytes(image, kCountLimit, 4), kFF4);
    EXPECT_EQ(Bytes(image, kWaitTime, 4), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xF4}));
    EXPECT_TRUE(OperationsStartingWith("ReadUnsigned 10349").empty());

    dialog->SetChecked(IDC_LIMIT_COUNT, true);
    dialog->Type(IDC_COUNT_LIMIT, "0");
    dialog->Type(IDC_WAIT_TIME, "abc");
    image = Build();
    EXPECT_EQ(Bytes(image, kCountLimit, 4), kFF4);
    EXPECT_EQ(Bytes(image, kWaitTime, 4), kFF4);
    ExpectErasedOutsideFields(image, FIRMWARE_SIZE);
}

TEST_F(ConfigImageTest, NoPortSelectionReadsAsPortZero) {
    dialog->Choose(IDC_PORT_SELECT, -1);
    EXPECT_EQ(Build()[kPortSelect], 0x00);
}

TEST_F(ConfigImageTest, ControlsAreReadInFixedOrder) {
    dialog->SetChecked(IDC_LIMIT_COUNT, true);
    dialog->ClearOperations();
    Build();
    EXPECT_EQ(Reads(), (std::vector<std::string>{"IsChecked 10344", "ReadUnsigned 10349",
                                                 "GetSelection 10345", "ReadUnsigned 10346",
                                                 "IsChecked 10347", "IsChecked 10348"}));
}

TEST_F(ConfigImageTest, EachBuildStartsFromAnErasedImage) {
    ConfigSettings on{true, 9, 5, 9, true, true};
    ConfigSettings off{};
    const uint8_t payload[3] = {1, 2, 3};
    ConfigImageBytes image;
    ASSERT_EQ(ComposeConfigImage(payload, 3, on, image), ImageStatus::Ok);
    ASSERT_EQ(ComposeConfigImage(payload, 3, off, image), ImageStatus::Ok);
    EXPECT_EQ(Bytes(image, 0, 4), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    EXPECT_EQ(image[kPortSelect], 0x00);
    ExpectErasedOutsideFields(image, 3);
    EXPECT_EQ(Bytes(image, kCountLimit, 4), kFF4);
    EXPECT_EQ(Bytes(image, kWaitTime, 4), kFF4);
    EXPECT_EQ(image[kMachineSignal], 0xFF);
    EXPECT_EQ(image[kKeepPower], 0xFF);
}

TEST_F(ConfigImageTest, PayloadSizeLimits) {
    ConfigSettings settings{};
    ConfigImageBytes image;
    std::vector<uint8_t> full(kMaxPayloadSize, 0x5A);
    ASSERT_EQ(ComposeConfigImage(full.data(), uint32_t(full.size()), settings, image),
              ImageStatus::Ok);
    EXPECT_EQ(Bytes(image, 0, kMaxPayloadSize), full);
    EXPECT_EQ(Bytes(image, kCountLimit, 4), kFF4); // the block begins right after

    std::vector<uint8_t> tooLarge(kMaxPayloadSize + 1, 0x5A);
    EXPECT_EQ(ComposeConfigImage(tooLarge.data(), uint32_t(tooLarge.size()), settings, image),
              ImageStatus::PayloadTooLarge);
    EXPECT_EQ(Bytes(image, 0, 4), kFF4); // nothing of a refused payload is kept
    EXPECT_EQ(ComposeConfigImage(full.data(), 0, settings, image), ImageStatus::PayloadMissing);
    EXPECT_EQ(ComposeConfigImage(nullptr, 100, settings, image), ImageStatus::PayloadMissing);
}

TEST_F(ConfigImageTest, RunReportsTheProgramsPayload) {
    LoadTable({DeviceA()});
    fake_platform::SetPayloadMissing();
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines().front(), "Firmware payload missing");
    dialog->Type(IDC_LOG, "");
    fake_platform::SetPayload({});
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines().front(), "Firmware payload missing");
    dialog->Type(IDC_LOG, "");
    fake_platform::SetPayload(std::vector<uint8_t>(kMaxPayloadSize + 10, 0));
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines().front(), "Firmware payload too large (39930 bytes)");
    EXPECT_EQ(library.FlashCallCount(), 0u);
}
