// Call log lines exactly as scripts and the end-to-end tests parse them.
#include "sim_log_format.h"

#include <gtest/gtest.h>

TEST(StandinLogFormat, LinesOfEachKind) {
    EXPECT_EQ(LogLine(4, 81, EnumCallText(16, 2)), "4 81 Tamla_EnumDevices max=16 -> 2\n");
    EXPECT_EQ(LogLine(3, 80, OptionCallText(0, 0x00401230, 1, "dump=" + DumpFileName("option", 3))),
              "3 80 Tamla_SetIspOption mode=0 callback=0x00401230 -> 1 dump=option-0003.bin\n");
    const int32_t args[4] = {1, 0, 0, -1};
    EXPECT_EQ(LogLine(7, 1234, FlashCallText(4294967295u, 61440, args, 1, "dump=flash-0007.bin")),
              "7 1234 Tamla_FlashProgramB id=4294967295 len=61440 args=1,0,0,-1 -> 1 "
              "dump=flash-0007.bin\n");
    EXPECT_EQ(LogLine(9, 2000, EventText({3, 0x4, 3}, "0")),
              "9 2000 event code=3 mask=0x0004 count=3 -> 0\n");
    EXPECT_EQ(EventText({-1, 0x12345, 0}, "no-callback"),
              "event code=-1 mask=0x12345 count=0 -> no-callback");
    EXPECT_EQ(OptionCallText(-1, 0xFFFFFFFFu, 0, "dump=failed"),
              "Tamla_SetIspOption mode=-1 callback=0xFFFFFFFF -> 0 dump=failed");
    EXPECT_EQ(EventText({3, 0x3, 2}, "0", "Tamla_SetIspOption"),
              "event code=3 mask=0x0003 count=2 in=Tamla_SetIspOption -> 0");
    EXPECT_EQ(RescanText(2500, true, {3, 0x4, 3}),
              "rescan ms=2500 under-lock before code=3 mask=0x0004 count=3");
    EXPECT_EQ(RescanText(10, false, {2, 0x1, 0}), "rescan ms=10 before code=2 mask=0x0001 count=0");
    EXPECT_EQ(ImageChangedText(7, {12, 0x9C04}),
              "error Tamla_FlashProgramB id=7: image changed during the write, 12 bytes differ, "
              "the first at 0x9C04");
}

TEST(StandinLogFormat, DumpNamesPadToFourDigitsAndGrow) {
    EXPECT_EQ(DumpFileName("flash", 7), "flash-0007.bin");
    EXPECT_EQ(DumpFileName("option", 12345), "option-12345.bin");
}
