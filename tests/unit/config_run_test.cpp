#include "config_image.h"
#include "config_run.h"
#include "core_fixture.h"
#include "device_events.h"
#include "isp_options.h"

#include <string>
#include <vector>

namespace {
const std::string kBegin = std::string("<") + "1#ISP DEV:3A-01-7F-00-12-C4" + "> begin config...";
const std::string kSucc = std::string("<") + "1#ISP DEV:3A-01-7F-00-12-C4" + "> config succ";
const std::string kFailure = std::string("<") + "1#ISP DEV:3A-01-7F-00-12-C4" + "> config failure.";
} // namespace

class ConfigRunTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        LoadTable({DeviceA(), DeviceB()});
    }
};

TEST_F(ConfigRunTest, SuccessfulRunLogsWritesResultAndPassesTheImage) {
    dialog->Type(IDC_WAIT_TIME, "500");
    dialog->Choose(IDC_PORT_SELECT, 3);
    EXPECT_EQ(ConfigureDevice(0), 0u);

    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{kBegin, kSucc}));
    EXPECT_EQ(dialog->Get(IDC_DOWNLOAD_COUNT).text, ">>>>配置成功!");
    EXPECT_FALSE(RunInProgress());
    EXPECT_TRUE(dialog->PostedClicks().empty());

    std::vector<FlashCall> calls = library.FlashCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].deviceId, 1u);
    EXPECT_EQ(calls[0].length, kConfigImageSize);
    EXPECT_EQ(std::vector<int32_t>(calls[0].args, calls[0].args + 4),
              (std::vector<int32_t>{1, 0, 0, 0}));

    // The image passed is exactly what the pure composition gives.
    const std::vector<uint8_t> payload = fake_platform::BuildPayload();
    ConfigImageBytes expected;
    ASSERT_EQ(ComposeConfigImage(payload.data(), uint32_t(payload.size()),
                                 ConfigSettings{false, 0, 3, 500, false, false}, expected),
              ImageStatus::Ok);
    ASSERT_EQ(calls[0].image.size(), size_t(kConfigImageSize));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), calls[0].image.begin()));
}

TEST_F(ConfigRunTest, ButtonsAreDisabledOnlyAroundTheWrite) {
    std::vector<std::string> atWrite;
    bool busyAtWrite = false;
    library.SetOnFlash([&](uint32_t) {
        atWrite = ButtonOperations();
        busyAtWrite = RunInProgress();
    });
    ConfigureDevice(0);
    EXPECT_EQ(atWrite, (std::vector<std::string>{"Disable 1007", "Disable 1004"}));
    EXPECT_TRUE(busyAtWrite);
    EXPECT_EQ(ButtonOperations(), (std::vector<std::string>{"Disable 1007", "Disable 1004",
                                                            "Enable 1007", "Enable 1004"}));
    // The result text is written before the buttons come back.
    std::vector<std::string> ops = dialog->Operations();
    auto result = std::find(ops.begin(), ops.end(), "SetText 10332 >>>>配置成功!");
    auto enable = std::find(ops.begin(), ops.end(), "Enable 1007");
    EXPECT_LT(result, enable);
}

TEST_F(ConfigRunTest, FailedWriteIsReported) {
    library.SetFlashResult(0);
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{kBegin, kFailure}));
    EXPECT_EQ(dialog->Get(IDC_DOWNLOAD_COUNT).text, ">>>>配置失败!");
    EXPECT_TRUE(dialog->Get(IDC_FIND_DEVICES).enabled);
    EXPECT_TRUE(dialog->Get(IDC_CONFIGURE).enabled);
    EXPECT_FALSE(RunInProgress());
}

TEST_F(ConfigRunTest, WritesTheDeviceOfTheGivenSlotInUidFormEvenInNameMode) {
    SetCurrentMode(1);
    ConfigureDevice(1);
    ASSERT_EQ(library.FlashCallCount(), 1u);
    EXPECT_EQ(library.FlashCalls()[0].deviceId, 2u);
    EXPECT_EQ(dialog->LogLines().back(), std::string("<") + kLabelB + "> config succ");
}

TEST_F(ConfigRunTest, InvalidIndexTouchesNothingButTheLog) {
    dialog->ClearOperations();
    ConfigureDevice(2);
    EXPECT_EQ(dialog->Operations(),
              (std::vector<std::string>{"AppendText 1009 Invalid device index(2)\r\n"}));
    EXPECT_EQ(library.FlashCallCount(), 0u);
    EXPECT_FALSE(RunInProgress());

    // A library claiming 40 devices still only has 16 table slots.
    DeviceCount = 40;
    ConfigureDevice(16);
    ConfigureDevice(0xFFFFFFFFu);
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"Invalid device index(2)", "Invalid device index(16)",
                                        "Invalid device index(-1)"}));
    EXPECT_EQ(library.FlashCallCount(), 0u);
    ConfigureDevice(15); // a zeroed slot, but inside the table
    EXPECT_EQ(library.FlashCallCount(), 1u);
}

TEST_F(ConfigRunTest, MissingOrOversizedPayloadNeverWrites) {
    // The run never disabled the buttons, so it leaves them as a search set them.
    const std::vector<std::string> ops{};
    fake_platform::SetPayloadMissing();
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{"Firmware payload missing", kFailure}));
    EXPECT_EQ(dialog->Get(IDC_DOWNLOAD_COUNT).text, ">>>>配置失败!");
    EXPECT_EQ(ButtonOperations(), ops);

    dialog->Type(IDC_LOG, "");
    dialog->ClearOperations();
    fake_platform::SetPayload(std::vector<uint8_t>(kMaxPayloadSize + 1, 0x11));
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"Firmware payload too large (39921 bytes)", kFailure}));
    EXPECT_EQ(ButtonOperations(), ops);

    fake_platform::SetPayload({});
    ConfigureDevice(0);
    EXPECT_EQ(dialog->LogLines().back(), kFailure);
    EXPECT_EQ(library.FlashCallCount(), 0u);
    EXPECT_FALSE(RunInProgress());
}

TEST_F(ConfigRunTest, EventsDuringARunGiveExactlyOneClickAfterIt) {
    ASSERT_EQ(ApplyIspOptions(), 1); // registers the callback with the library
    std::vector<int32_t> answers;
    int enumsDuringRun = -1;
    library.SetOnFlash([&](uint32_t) {
        answers.push_back(library.FireEvent(3, 0x1, 2));
        answers.push_back(library.FireEvent(2, 0x2, 1));
        enumsDuringRun = library.EnumCalls();
    });
    ConfigureDevice(0);
    EXPECT_EQ(answers, (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(enumsDuringRun, 0);
    // The search is left to the click that asks the dialog to register and
    // search again.
    EXPECT_EQ(dialog->PostedClicks(), (std::vector<int>{IDC_FIND_DEVICES}));
    EXPECT_EQ(library.EnumCalls(), 0);
    EXPECT_TRUE(RequestPending());
    RefreshDeviceList(); // what the click's worker does
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_FALSE(RequestPending());
}

TEST_F(ConfigRunTest, ASearchAskedDuringARunWaitsForItsEnd) {
    // A search asked for while the image is being built comes after the
    // write: no table change can mix two devices into one run.
    library.SetDevices({DeviceB()});
    fake_platform::SetOnPayloadLoad([] { RefreshDeviceList(); });
    ConfigureDevice(0);
    fake_platform::SetOnPayloadLoad(nullptr);
    EXPECT_EQ(library.FlashCalls().at(0).deviceId, 1u);
    EXPECT_EQ(dialog->LogLines().back(), kSucc);
    EXPECT_EQ(CopyDeviceSlot(0).deviceId, 2u);
}

TEST_F(ConfigRunTest, RequestsDuringARunWaitInTurnWithoutBlockingTheCaller) {
    // Asked from inside a write, as another thread's request would arrive:
    // each call returns at once and the runner writes them in order.
    int writesWhenAsked = -1;
    library.SetOnFlash([&](uint32_t) {
        if (writesWhenAsked >= 0)
            return;
        writesWhenAsked = int(library.FlashCallCount());
        for (int request = 0; request < 33; ++request)
            EXPECT_EQ(ConfigureDevice(request % 2 == 0 ? 1 : 0), 0u);
    });
    ConfigureDevice(0);
    EXPECT_EQ(writesWhenAsked, 1);
    // The 33rd finds the queue full: refused with a line, never overwriting.
    const std::vector<FlashCall> calls = library.FlashCalls();
    ASSERT_EQ(calls.size(), 33u);
    EXPECT_EQ(calls[0].deviceId, 1u);
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].deviceId, i % 2 == 1 ? 2u : 1u) << i;
    const std::vector<std::string> lines = dialog->LogLines();
    ASSERT_EQ(lines.size(), 2u * 33 + 1);
    EXPECT_EQ(lines[0], kBegin);
    EXPECT_EQ(lines[1], "Too many configuration requests waiting; device index(1) not configured");
    EXPECT_EQ(lines[2], kSucc);
    EXPECT_FALSE(RunInProgress());
}
