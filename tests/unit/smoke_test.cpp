#include "config_run.h"
#include "core_fixture.h"

TEST_F(CoreTest, SmokeConfiguresOneDevice) {
    DeviceTable[0] = MakeDevice(1, {0x3A, 0x01, 0x7F, 0x00, 0x12, 0xC4}, 0x0210);
    DeviceCount = 1;
    ConfigureDevice(0);
    ASSERT_EQ(library.FlashCallCount(), 1u);
    EXPECT_EQ(dialog->LogLines().back(), "<1#ISP DEV:3A-01-7F-00-12-C4> config succ");
}
