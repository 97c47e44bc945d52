#include "config_run.h"
#include "core_fixture.h"
#include "device_discovery.h"
#include "device_events.h"
#include "dialog_commands.h"

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class DeviceDiscoveryTest : public CoreTest {};

TEST_F(DeviceDiscoveryTest, NoDeviceEmptiesListAndInfo) {
    dialog->AddEntry(IDC_DEVICE_LIST, "stale");
    dialog->SetText(IDC_DEVICE_INFO, "stale");
    dialog->ClearOperations();
    EXPECT_EQ(RefreshDeviceList(), 0u);
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{"Not found isp device"}));
    EXPECT_TRUE(dialog->Get(IDC_DEVICE_LIST).entries.empty());
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).selection, -1);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, "");
    EXPECT_EQ(DeviceCount.load(), 0u);
    EXPECT_EQ(ButtonOperations(), (std::vector<std::string>{"Disable 1007", "Disable 1004",
                                                            "Enable 1007", "Enable 1004"}));
}

TEST_F(DeviceDiscoveryTest, TwoDevicesFillTableListAndInfo) {
    library.SetDevices({DeviceA(), DeviceB()});
    EXPECT_EQ(RefreshDeviceList(), 2u);
    FakeDialog::Control list = dialog->Get(IDC_DEVICE_LIST);
    EXPECT_EQ(list.entries, (std::vector<std::string>{kLabelA, kLabelB}));
    EXPECT_EQ(list.selection, 0);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoA);
    EXPECT_EQ(std::strlen(kInfoA), 32u);
    EXPECT_EQ(DeviceCount.load(), 2u);
    EXPECT_EQ(CopyDeviceSlot(1).deviceId, 2u);
    EXPECT_TRUE(dialog->Get(IDC_FIND_DEVICES).enabled);
    EXPECT_TRUE(dialog->Get(IDC_CONFIGURE).enabled);
    EXPECT_TRUE(dialog->LogLines().empty());
}

TEST_F(DeviceDiscoveryTest, NameModeLabelsByName) {
    SetCurrentMode(1);
    library.SetDevices({DeviceA(), DeviceB()});
    RefreshDeviceList();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries,
              (std::vector<std::string>{"1#ISP DEV:PROG-A", "2#ISP DEV:PROG-B"}));
    // The info line keeps the unique id whatever the mode.
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoA);
    SetCurrentMode(2); // any other mode is the unique-id form
    RefreshDeviceList();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.at(0), kLabelA);
}

TEST_F(DeviceDiscoveryTest, SmallerSetReplacesTheOldOneWhole) {
    library.SetDevices({DeviceA(), DeviceB()});
    RefreshDeviceList();
    library.SetDevices({DeviceB()});
    EXPECT_EQ(RefreshDeviceList(), 1u);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries, (std::vector<std::string>{kLabelB}));
    EXPECT_EQ(CopyDeviceSlot(1).deviceId, 0u); // the old slot is cleared
}

TEST_F(DeviceDiscoveryTest, InfoFollowsTheSelection) {
    library.SetDevices({DeviceA(), DeviceB()});
    RefreshDeviceList();
    dialog->Choose(IDC_DEVICE_LIST, 1);
    EXPECT_TRUE(HandleDialogCommand(IDC_DEVICE_LIST, kListSelectionChanged));
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoB);

    // Focus with no selection, or a selection beyond the table, shows nothing.
    dialog->Choose(IDC_DEVICE_LIST, -1);
    dialog->ClearOperations();
    EXPECT_TRUE(HandleDialogCommand(IDC_DEVICE_LIST, kListFocusGained));
    dialog->Choose(IDC_DEVICE_LIST, 16);
    ShowDeviceInfo();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoB);
    EXPECT_TRUE(OperationsStartingWith("SetText").empty());

    // A slot a later search cleared shows a zeroed record.
    dialog->Choose(IDC_DEVICE_LIST, 5);
    ShowDeviceInfo();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, "UID:00-00-00-00-00-00,BTVER:0000");
}

TEST_F(DeviceDiscoveryTest, EveryRefreshEnablesTheButtons) {
    for (bool withDevices : {false, true}) {
        library.SetDevices(withDevices ? std::vector<IspDeviceInfo>{DeviceA()}
                                       : std::vector<IspDeviceInfo>{});
        dialog->Enable(IDC_FIND_DEVICES, false);
        dialog->Enable(IDC_CONFIGURE, false);
        RefreshDeviceList();
        EXPECT_FALSE(RequestPending());
        EXPECT_TRUE(dialog->Get(IDC_FIND_DEVICES).enabled);
        EXPECT_TRUE(dialog->Get(IDC_CONFIGURE).enabled);
    }
}

TEST_F(DeviceDiscoveryTest, EventDuringTheSearchFromAnotherThreadGetsASearchOfItsOwn) {
    // A change reported on another thread while the library is being asked
    // may be missing from this answer; one reported on the searching thread,
    // inside the call, is already in it.
    for (bool sameThread : {false, true}) {
        library.Reset();
        library.SetDevices({DeviceA()});
        bool fired = false;
        library.SetOnEnum([&] {
            if (std::exchange(fired, true))
                return;
            if (sameThread)
                OnDeviceEvent(1, 0x1, 1);
            else
                std::thread([] { OnDeviceEvent(1, 0x1, 1); }).join();
        });
        RefreshDeviceList();
        EXPECT_EQ(library.EnumCalls(), sameThread ? 1 : 2) << sameThread;
        EXPECT_FALSE(RequestPending());
    }
}

TEST_F(DeviceDiscoveryTest, MisbehavingLibraryStaysInsideTheTable) {
    std::vector<IspDeviceInfo> many;
    for (uint32_t id = 1; id <= 20; ++id) {
        IspDeviceInfo device = MakeDevice(id, {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, uint8_t(id)}, 0xFFFF);
        std::memset(device.name, 'N', sizeof(device.name)); // no terminator
        many.push_back(device);
    }
    library.SetDevices(many);  // the fake writes at most maxCount records
    library.SetEnumResult(20); // but claims all of them
    SetCurrentMode(1);
    EXPECT_EQ(RefreshDeviceList(), 20u);
    std::vector<std::string> entries = dialog->Get(IDC_DEVICE_LIST).entries;
    ASSERT_EQ(entries.size(), 16u);
    EXPECT_EQ(entries[15], "16#ISP DEV:" + std::string(50, 'N'));
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, "UID:FF-EE-DD-CC-BB-01,BTVER:FFFF");

    // An error code where a count belongs: the search failed, and what the
    // last search found stays.
    library.SetEnumResult(-1);
    EXPECT_EQ(RefreshDeviceList(), 20u);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries, entries);
    EXPECT_EQ(dialog->LogLines().back(), "Search for devices failed (-1)");
    EXPECT_TRUE(dialog->Get(IDC_FIND_DEVICES).enabled);
}
