#include "core_fixture.h"
#include "device_discovery.h"
#include "device_events.h"

#include <string>
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
    EXPECT_EQ(library.FlashCallCount(), 16u); // slots 3..15 are zero records
    EXPECT_FALSE(ConfigRunBusy());
}

TEST_F(DeviceEventsTest, ArrivalDuringASearchIsConfiguredAfterTheNextSearch) {
    // The event comes while a search runs (here from inside it, as a library
    // may call back): its refresh is merged into the running one, which
    // searches again and then configures the new slot, once the list holds it.
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
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(library.EnumCalls(), 2);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{3, 2}}));
    EXPECT_EQ(dialog->LogLines().back(), "<3#ISP DEV:01-02-03-04-05-06> config succ");
}
