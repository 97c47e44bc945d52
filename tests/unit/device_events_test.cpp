#include "core_fixture.h"
#include "device_discovery.h"
#include "device_events.h"

#include <string>
#include <thread>
#include <utility>
#include <vector>

class DeviceEventsTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        library.SetDevices({DeviceA(), DeviceB(), MakeDevice(3, {1, 2, 3, 4, 5, 6}, 0x0300)});
        // The list selection at the moment of each write, by device id.
        library.SetOnFlash([this](uint32_t id) {
            selectionAtWrite.push_back({id, dialog->Get(IDC_DEVICE_LIST).selection});
        });
    }

    std::vector<std::pair<uint32_t, int>> selectionAtWrite;
};

TEST_F(DeviceEventsTest, EventDuringARunOnlyRecordsTheRequest) {
    BeginConfigRun();
    EXPECT_EQ(OnDeviceEvent(3, 0x1, 5), 1);
    EXPECT_EQ(DeviceCount.load(), 5u);
    EXPECT_TRUE(RefreshRequestPending());
    EXPECT_EQ(library.EnumCalls(), 0);
    EXPECT_TRUE(dialog->Operations().empty());
}

TEST_F(DeviceEventsTest, WithoutAutomaticDownloadAnArrivalOnlyRefreshes) {
    EXPECT_EQ(OnDeviceEvent(3, 0x7, 3), 0);
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.size(), 3u);
    EXPECT_EQ(library.FlashCallCount(), 0u);
}

TEST_F(DeviceEventsTest, ArrivalWithAutomaticDownloadConfiguresEachSlotInTurn) {
    AutoDownload = 1;
    EXPECT_EQ(OnDeviceEvent(3, 0x0005, 3), 0);
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{1, 0}, {3, 2}}));
    // The second run starts only after the first has reported.
    std::vector<std::string> lines = dialog->LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], std::string("<") + kLabelA + "> config succ");
    EXPECT_EQ(lines[2], "<3#ISP DEV:01-02-03-04-05-06> begin config...");
    // Selecting the entry this way does not touch the info field.
    EXPECT_EQ(OperationsStartingWith("SetText 1018").size(), 1u); // the refresh's own
}

TEST_F(DeviceEventsTest, AutomaticDownloadConfiguresOnlyOnArrival) {
    AutoDownload = 1;
    for (int32_t code : {0, 1, 2, 4, -3}) {
        EXPECT_EQ(OnDeviceEvent(code, 0xFFFF, 3), 1) << code;
    }
    EXPECT_EQ(library.EnumCalls(), 5);
    EXPECT_EQ(library.FlashCallCount(), 0u);
    // An arrival naming no slot below 16 configures nothing either.
    EXPECT_EQ(OnDeviceEvent(3, 0xFFFF0000u, 3), 1);
    EXPECT_EQ(library.FlashCallCount(), 0u);
}

TEST_F(DeviceEventsTest, ArrivalNamingAnEmptySlotReportsTheIndex) {
    AutoDownload = 1;
    EXPECT_EQ(OnDeviceEvent(3, 0x8002, 3), 0);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{2, 1}}));
    EXPECT_EQ(dialog->LogLines().back(), "Invalid device index(15)");
}

TEST_F(DeviceEventsTest, CountBeyondTheTableIsHarmless) {
    AutoDownload = 1;
    library.SetEnumResult(40);
    EXPECT_EQ(OnDeviceEvent(3, 0xFFFFFFFFu, 40), 0);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.size(), 16u);
    // Slots 3..15 are the same zero record: one device, written once.
    EXPECT_EQ(library.FlashCallCount(), 4u);
    EXPECT_FALSE(ConfigRunBusy());
}

TEST_F(DeviceEventsTest, ArrivalInsideASearchIsAnsweredByItAndConfiguredAfterIt) {
    // The library calls back from inside the search, on the searching thread:
    // that search's table already holds the new device, so it answers the
    // event and configures the device once the list holds it.
    AutoDownload = 1;
    library.SetDevices({DeviceA(), DeviceB()});
    int32_t answer = -1;
    library.SetOnEnum([&] {
        if (answer != -1)
            return;
        library.SetDevices({DeviceA(), DeviceB(), MakeDevice(3, {1, 2, 3, 4, 5, 6}, 0x0300)});
        answer = OnDeviceEvent(kIspEventArrival, 0x4, 3);
        EXPECT_EQ(library.FlashCallCount(), 0u); // not before the search that sees it
    });
    EXPECT_EQ(RefreshDeviceList(), 3u);
    EXPECT_EQ(answer, 1); // handed to the search it came inside
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{3, 2}}));
    EXPECT_EQ(dialog->LogLines().back(), "<3#ISP DEV:01-02-03-04-05-06> config succ");
}

TEST_F(DeviceEventsTest, ArrivedDeviceIsWrittenOnceWhereverItIsWhenItsRunStarts) {
    // The library's own thread reports an arrival in slot 2 while a search
    // runs, then a removal before the arrival's run starts.
    AutoDownload = 1;
    const IspDeviceInfo deviceC = MakeDevice(3, {1, 2, 3, 4, 5, 6}, 0x0300);
    struct Case {
        const char* what;
        std::vector<IspDeviceInfo> after;
        std::vector<std::pair<uint32_t, int>> writes;
        std::string lastLine;
    };
    const Case cases[] = {
        {"device 1 leaves, device 3 moves to slot 1",
         {DeviceB(), deviceC},
         {{3, 1}},
         "<3#ISP DEV:01-02-03-04-05-06> config succ"},
        {"device 3 leaves again",
         {DeviceA(), DeviceB()},
         {},
         "<3#ISP DEV:01-02-03-04-05-06> removed before config"},
    };
    for (const Case& c : cases) {
        library.SetDevices({DeviceA(), DeviceB()});
        RefreshDeviceList();
        selectionAtWrite.clear();
        std::vector<int32_t> answers;
        bool fired = false;
        library.SetOnEnum([&] {
            if (std::exchange(fired, true))
                return;
            std::thread([&] {
                library.SetDevices({DeviceA(), DeviceB(), deviceC});
                answers.push_back(OnDeviceEvent(kIspEventArrival, 0x4, 3));
                library.SetDevices(c.after);
                answers.push_back(OnDeviceEvent(2, 0x1, 2));
            }).join();
        });
        RefreshDeviceList();
        library.SetOnEnum(nullptr);

        // Both handed to the search at work, which configures nothing itself.
        EXPECT_EQ(answers, (std::vector<int32_t>{1, 1})) << c.what;
        EXPECT_EQ(selectionAtWrite, c.writes) << c.what;
        EXPECT_EQ(dialog->LogLines().back(), c.lastLine) << c.what;
        for (const std::string& line : dialog->LogLines())
            EXPECT_EQ(line.find("Invalid device index"), std::string::npos) << c.what;
    }
}
