#include "core_fixture.h"
#include "device_discovery.h"
#include "device_events.h"
#include "isp_options.h"

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

    // The tool has searched once and found these devices; then the library
    // holds `now`.
    void SearchedBefore(std::vector<IspDeviceInfo> before, std::vector<IspDeviceInfo> now) {
        library.SetDevices(std::move(before));
        RefreshDeviceList();
        library.SetDevices(std::move(now));
        dialog->ClearOperations();
        dialog->Type(IDC_LOG, "");
    }

    std::vector<std::pair<uint32_t, int>> selectionAtWrite;
};

TEST_F(DeviceEventsTest, WithoutAutomaticDownloadAnArrivalOnlyRefreshes) {
    EXPECT_EQ(OnDeviceEvent(3, 0x7, 3), 0);
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.size(), 3u);
    EXPECT_EQ(library.FlashCallCount(), 0u);
}

TEST_F(DeviceEventsTest, ArrivalWithAutomaticDownloadConfiguresEachSlotInTurn) {
    // Devices 1 and 3 join device 2, in slots 0 and 2.
    AutoDownload = 1;
    SearchedBefore({DeviceB()}, {DeviceA(), DeviceB(), MakeDevice(3, {1, 2, 3, 4, 5, 6}, 0x0300)});
    EXPECT_EQ(OnDeviceEvent(3, 0x0005, 3), 0);
    EXPECT_EQ(library.EnumCalls(), 2);
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
    // An arrival naming no slot below 16 configures nothing either, even with
    // a device new to the tool.
    library.SetDevices({DeviceA(), DeviceB(), MakeDevice(4, {4, 4, 4, 4, 4, 4}, 0x0400)});
    EXPECT_EQ(OnDeviceEvent(3, 0xFFFF0000u, 3), 1);
    EXPECT_EQ(library.FlashCallCount(), 0u);
}

TEST_F(DeviceEventsTest, ArrivalNamingAnEmptySlotReportsTheIndex) {
    AutoDownload = 1;
    SearchedBefore({DeviceA()}, {DeviceA(), DeviceB()});
    EXPECT_EQ(OnDeviceEvent(3, 0x8002, 2), 0);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{2, 1}}));
    EXPECT_EQ(dialog->LogLines().back(), "Invalid device index(15)");
}

TEST_F(DeviceEventsTest, CountBeyondTheTableIsHarmless) {
    AutoDownload = 1;
    SearchedBefore({}, library.Devices());
    library.SetEnumResult(40);
    EXPECT_EQ(OnDeviceEvent(3, 0xFFFFFFFFu, 40), 0);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.size(), 16u);
    // Slots 3..15 are the same zero record: one device, written once.
    EXPECT_EQ(library.FlashCallCount(), 4u);
    EXPECT_FALSE(RunInProgress());
}

TEST_F(DeviceEventsTest, AnArrivalWhileSearchesFailIsWrittenOnceASearchFindsIt) {
    AutoDownload = 1;
    SearchedBefore({DeviceA()}, {DeviceA(), DeviceB()});
    library.SetEnumResult(-5);
    EXPECT_EQ(OnDeviceEvent(3, 0x2, 2), 1);
    EXPECT_EQ(OnDeviceEvent(1, 0x0, 2), 1);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries, (std::vector<std::string>{kLabelA}));
    // The first search that succeeds answers the arrival: device 2 is new,
    // device 1, attached all along, is not.
    library.SetEnumResult(std::nullopt);
    EXPECT_EQ(OnDeviceEvent(1, 0x0, 2), 0);
    EXPECT_EQ(OnDeviceEvent(1, 0x0, 2), 1);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{2, 1}}));
    EXPECT_EQ(dialog->LogLines().front(), "Search for devices failed (-5)");
}

TEST_F(DeviceEventsTest, ArrivalInsideASearchIsAnsweredByItAndConfiguredAfterIt) {
    // The library calls back from inside the search, on the searching thread:
    // that search's table already holds the new device, so it answers the
    // event and configures the device once the list holds it.
    AutoDownload = 1;
    SearchedBefore({DeviceA(), DeviceB()}, {DeviceA(), DeviceB()});
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
    EXPECT_EQ(library.EnumCalls(), 2);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{3, 2}}));
    EXPECT_EQ(dialog->LogLines().back(), "<3#ISP DEV:01-02-03-04-05-06> config succ");
}

TEST_F(DeviceEventsTest, ArrivalsDuringAWriteAreWrittenAfterItWhereverTheyAre) {
    // Devices 3 and 4 arrive together; while 3 is written, device 1 leaves
    // (from another thread) and device 5 arrives. Every arrival still
    // attached is written once, found by identity in the table of its turn.
    dialog->SetChecked(IDC_AUTO_DOWNLOAD, true);
    ASSERT_EQ(ApplyIspOptions(), 1);
    const IspDeviceInfo c = MakeDevice(3, {3, 3, 3, 3, 3, 3}, 0x0300);
    const IspDeviceInfo d = MakeDevice(4, {4, 4, 4, 4, 4, 4}, 0x0400);
    const IspDeviceInfo e = MakeDevice(5, {5, 5, 5, 5, 5, 5}, 0x0500);
    SearchedBefore({DeviceA(), DeviceB()}, {DeviceA(), DeviceB(), c, d});
    library.SetOnFlash([&](uint32_t id) {
        selectionAtWrite.push_back({id, dialog->Get(IDC_DEVICE_LIST).selection});
        if (id != 3)
            return;
        std::thread([&] {
            library.SetDevices({DeviceB(), c, d});
            EXPECT_EQ(OnDeviceEvent(2, 0x1, 3), 1); // deferred
            library.SetDevices({DeviceB(), c, d, e});
            EXPECT_EQ(OnDeviceEvent(3, 0x8, 4), 1);
        }).join();
    });
    EXPECT_EQ(OnDeviceEvent(3, 0xC, 4), 0);
    EXPECT_EQ(selectionAtWrite, (std::vector<std::pair<uint32_t, int>>{{3, 2}, {4, 2}, {5, 3}}));
    EXPECT_EQ(dialog->PostedClicks(), (std::vector<int>{IDC_FIND_DEVICES}));
    for (const std::string& line : dialog->LogLines())
        EXPECT_EQ(line.find("removed"), std::string::npos) << line;
}
