#include "core_fixture.h"
#include "device_discovery.h"
#include "device_events.h"
#include "isp_options.h"

#include <cstring>

namespace {
// The record at start-up: zero but for the listed fields.
IspOption ExpectedStartUpRecord(uint32_t callbackField) {
    IspOption option;
    std::memset(&option, 0, sizeof(option));
    option.bytes[4] = 0x59;
    option.bytes[14] = 1;
    option.bytes[18] = 1;
    option.bytes[848] = 1;
    option.bytes[853] = 1;
    IspPutU32(option, 865, callbackField);
    return option;
}

bool SameBytes(const IspOption& a, const IspOption& b) {
    return std::memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
}
} // namespace

class IspOptionsTest : public CoreTest {};

TEST_F(IspOptionsTest, StartUpRecordAndCallback) {
    EXPECT_EQ(ApplyIspOptions(), 1);
    std::vector<IspOption> registered = library.Registrations();
    ASSERT_EQ(registered.size(), 1u);
    const uint32_t field = IspGetU32(registered[0], isp_option::kCallback);
    EXPECT_EQ(IspDecodeCallback(field), &OnDeviceEvent);
    EXPECT_TRUE(SameBytes(registered[0], ExpectedStartUpRecord(field)));
    EXPECT_TRUE(SameBytes(CurrentOption, registered[0]));
    EXPECT_EQ(AutoDownload.load(), 0u);
    // The library now reaches the handler: an event refreshes the list.
    library.SetDevices({DeviceA()});
    EXPECT_EQ(library.FireEvent(1, 0x1, 1), 0);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries, (std::vector<std::string>{kLabelA}));
}

TEST_F(IspOptionsTest, SerialKeyFreeBoxIsTheOnlyControlInTheRecord) {
    dialog->SetChecked(IDC_SERIAL_NOKEY, true);
    dialog->SetChecked(IDC_MACHINE_SIGNAL, true);
    ApplyIspOptions();
    IspOption record = library.Registrations().at(0);
    EXPECT_EQ(IspGetU32(record, isp_option::kSerialNoKey), 1u);
    IspPutU32(record, isp_option::kSerialNoKey, 0);
    EXPECT_TRUE(SameBytes(record, ExpectedStartUpRecord(IspGetU32(record, isp_option::kCallback))));
}

TEST_F(IspOptionsTest, CurrentOptionKeepsTheRecordAsTheLibraryLeftIt) {
    library.SetModeOnRegister(7);
    ApplyIspOptions();
    EXPECT_EQ(CurrentOptionMode(), 7);
    EXPECT_EQ(IspGetU32(library.Registrations().at(0), isp_option::kMode), 0u);
}

TEST_F(IspOptionsTest, RefusalZeroesTheCopyAndStillRecomputesAutoDownload) {
    dialog->SetChecked(IDC_AUTO_DOWNLOAD, true);
    ASSERT_EQ(ApplyIspOptions(), 1);
    ASSERT_EQ(AutoDownload.load(), 1u);
    ASSERT_NE(CurrentOption.bytes[4], 0);

    library.SetOptionResult(0);
    dialog->SetChecked(IDC_AUTO_DOWNLOAD, false);
    EXPECT_EQ(ApplyIspOptions(), 0);
    EXPECT_TRUE(SameBytes(CurrentOption, IspOption{}));
    EXPECT_EQ(AutoDownload.load(), 0u);

    dialog->SetChecked(IDC_AUTO_DOWNLOAD, true);
    EXPECT_EQ(ApplyIspOptions(), 0);
    EXPECT_EQ(AutoDownload.load(), 1u);

    // After a refusal the list is labelled by unique id.
    SetCurrentMode(0);
    library.SetDevices({DeviceA()});
    RefreshDeviceList();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.at(0), kLabelA);
}

TEST_F(IspOptionsTest, NameModeTurnsAutomaticDownloadOffAndLabelsByName) {
    dialog->SetChecked(IDC_AUTO_DOWNLOAD, true);
    library.SetModeOnRegister(1);
    EXPECT_EQ(ApplyIspOptions(), 1);
    EXPECT_EQ(AutoDownload.load(), 0u);
    library.SetDevices({DeviceA()});
    RefreshDeviceList();
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries.at(0), "1#ISP DEV:PROG-A");
    // Even a refused registration uses the mode the library left.
    library.SetOptionResult(0);
    ApplyIspOptions();
    EXPECT_EQ(AutoDownload.load(), 0u);
}
