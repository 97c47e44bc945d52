// Command lines as scripts write them, and the mistakes a script can make.
#include "sim_command.h"

#include <gtest/gtest.h>

namespace {

SimCommand Parsed(const char* line) {
    SimCommand command;
    std::string error;
    EXPECT_EQ(ParseSimCommand(line, command, error), SimParse::Command) << line << ": " << error;
    return command;
}

std::string Rejected(const std::string& line) {
    SimCommand command;
    std::string error;
    EXPECT_EQ(ParseSimCommand(line, command, error), SimParse::Error) << line;
    return error;
}

} // namespace

TEST(StandinCommandParse, DeviceWithAllFields) {
    SimCommand c = Parsed("device 12 uid=3a017F0012C4 boot=0210 name=PROG-A");
    EXPECT_EQ(c.kind, SimCommandKind::Device);
    EXPECT_EQ(c.device.id, 12u);
    ASSERT_TRUE(c.device.hasUid && c.device.hasBoot && c.device.hasName);
    const uint8_t uid[6] = {0x3A, 0x01, 0x7F, 0x00, 0x12, 0xC4};
    EXPECT_EQ(0, memcmp(c.device.uid, uid, 6));
    EXPECT_EQ(c.device.boot, 0x0210);
    EXPECT_EQ(c.device.name, "PROG-A");
}

TEST(StandinCommandParse, PlugFieldsInAnyOrderAndOmitted) {
    SimCommand c = Parsed("  plug\t4294967295 name=X boot=FFFF  ");
    EXPECT_EQ(c.kind, SimCommandKind::Plug);
    EXPECT_EQ(c.device.id, 4294967295u);
    EXPECT_FALSE(c.device.hasUid);
    EXPECT_EQ(c.device.boot, 0xFFFF);
    EXPECT_EQ(c.device.name, "X");

    c = Parsed("plug 0");
    EXPECT_FALSE(c.device.hasUid || c.device.hasBoot || c.device.hasName);
}

TEST(StandinCommandParse, EverySettingCommand) {
    EXPECT_EQ(Parsed("unplug 3").device.id, 3u);
    EXPECT_EQ(Parsed("unplug-all").kind, SimCommandKind::UnplugAll);
    EXPECT_EQ(Parsed("option-result 0").value, 0u);
    EXPECT_EQ(Parsed("flash-result 1").value, 1u);
    EXPECT_EQ(Parsed("flash-ms 250").value, 250u);
    EXPECT_EQ(Parsed("wait 600000").value, 600000u);
    SimCommand armed = Parsed("unplug-during-write 9");
    EXPECT_EQ(armed.kind, SimCommandKind::UnplugDuringWrite);
    EXPECT_EQ(armed.device.id, 9u);
    EXPECT_EQ(Parsed("unplug-after-search 4").kind, SimCommandKind::UnplugAfterSearch);

    SimCommand mode = Parsed("mode -2147483648");
    EXPECT_EQ(mode.kind, SimCommandKind::Mode);
    EXPECT_TRUE(mode.enabled);
    EXPECT_EQ(mode.code, INT32_MIN);
    EXPECT_FALSE(Parsed("mode off").enabled);

    EXPECT_EQ(Parsed("enum-count 40").value, 40u);
    EXPECT_TRUE(Parsed("enum-count 0").enabled);
    EXPECT_FALSE(Parsed("enum-count off").enabled);
    EXPECT_TRUE(Parsed("unterminated-names on").enabled);
    EXPECT_FALSE(Parsed("unterminated-names off").enabled);

    SimCommand slow = Parsed("enum-ms 300");
    EXPECT_EQ(slow.kind, SimCommandKind::EnumMs);
    EXPECT_EQ(slow.value, 300u);
    SimCommand sync = Parsed("callbacks-in-calls on");
    EXPECT_EQ(sync.kind, SimCommandKind::SyncCallbacks);
    EXPECT_TRUE(sync.enabled);
    SimCommand locked = Parsed("callbacks-under-lock off");
    EXPECT_EQ(locked.kind, SimCommandKind::LockedCallbacks);
    EXPECT_FALSE(locked.enabled);
    SimCommand rescan = Parsed("rescan-ms 2500");
    EXPECT_EQ(rescan.kind, SimCommandKind::RescanMs);
    EXPECT_EQ(rescan.value, 2500u);
}

TEST(StandinCommandParse, EventsAndStorms) {
    SimCommand e = Parsed("event -1 0x8001 16");
    EXPECT_EQ(e.kind, SimCommandKind::Event);
    EXPECT_EQ(e.code, -1);
    EXPECT_EQ(e.mask, 0x8001u);
    EXPECT_EQ(e.count, 16u);
    EXPECT_EQ(Parsed("event 3 4 1").mask, 4u); // a decimal mask is fine too

    SimCommand s = Parsed("storm 50");
    EXPECT_EQ(s.kind, SimCommandKind::Storm);
    EXPECT_EQ(s.value, 50u);
    EXPECT_EQ(s.code, 1); // default code
    EXPECT_EQ(Parsed("storm 2 3").code, 3);
}

TEST(StandinCommandParse, CommentsBlanksAndLineEnds) {
    SimCommand command;
    std::string error;
    EXPECT_EQ(ParseSimCommand("", command, error), SimParse::Blank);
    EXPECT_EQ(ParseSimCommand("   \t\r", command, error), SimParse::Blank);
    EXPECT_EQ(ParseSimCommand("# plug 3", command, error), SimParse::Blank);
    EXPECT_EQ(Parsed("unplug 5 # gone\r").device.id, 5u);
    EXPECT_EQ(Parsed("plug 1 name=A#B").device.name, "A"); // '#' always starts a comment
    EXPECT_EQ(SimCommandText("  flash-ms 10   # slow\r"), "flash-ms 10");
}

TEST(StandinCommandParse, BadInputIsRejectedWithAReason) {
    EXPECT_NE(Rejected("frobnicate 1").find("unknown command \"frobnicate\""), std::string::npos);
    EXPECT_NE(Rejected("PLUG 1").find("unknown command"), std::string::npos);
    EXPECT_NE(Rejected("plug").find("missing device id"), std::string::npos);
    EXPECT_NE(Rejected("plug x").find("bad device id"), std::string::npos);
    Rejected("plug 0x10"); // ids are decimal
    Rejected("plug -1");
    Rejected("plug 4294967296"); // above 32 bits
    EXPECT_NE(Rejected("plug 1 uid=3A017F0012C").find("12 hex digits"), std::string::npos);
    Rejected("plug 1 uid=3A017F0012CG");
    Rejected("plug 1 uid=3A017F0012C4 uid=3A017F0012C4");
    EXPECT_NE(Rejected("plug 1 boot=210").find("4 hex digits"), std::string::npos);
    EXPECT_NE(Rejected("plug 1 colour=red").find("unknown field"), std::string::npos);
    EXPECT_NE(Rejected("plug 1 name").find("key=value"), std::string::npos);
    EXPECT_NE(Rejected("plug 1 name=" + std::string(50, 'n')).find("longer than 49"),
              std::string::npos);
    EXPECT_EQ(Parsed(("plug 1 name=" + std::string(49, 'n')).c_str()).device.name.size(), 49u);
    Rejected("unplug");
    Rejected("unplug 1 2");
    Rejected("unplug-after-search");
    Rejected("unplug-all now");
    Rejected("option-result 2");
    Rejected("flash-result yes");
    Rejected("mode");
    Rejected("mode 2147483648");
    Rejected("mode 1x");
    Rejected("flash-ms -5");
    Rejected("flash-ms 600001"); // longer than any test should block
    Rejected("wait");
    Rejected("enum-count -1");
    Rejected("enum-count 2147483648");
    Rejected("unterminated-names yes");
    Rejected("enum-ms 600001");
    Rejected("rescan-ms 600001");
    Rejected("rescan-ms");
    Rejected("callbacks-in-calls");
    Rejected("callbacks-under-lock 1");
    Rejected("event 3 4");
    Rejected("event 3 0x 1");
    Rejected("event 3 0x100000000 1");
    Rejected("storm");
    Rejected("storm 100001");
    Rejected("storm 5 1 2");
}

TEST(StandinCommandParse, FailedParseLeavesNoHalfCommand) {
    SimCommand command = Parsed("plug 7 name=Y");
    std::string error;
    ASSERT_EQ(ParseSimCommand("plug 8 boot=zz", command, error), SimParse::Error);
    EXPECT_EQ(command.device.id, 0u);
    EXPECT_FALSE(command.device.hasName);
}

TEST(StandinScript, SplitsLinesAndFindsTheTimeline) {
    std::vector<std::string> lines = SplitScriptLines("device 1\r\n\r\n# c\nwait 100\nplug 2");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "device 1");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[4], "plug 2");
    EXPECT_EQ(FirstWaitLine(lines), 3u);
    // A malformed wait does not start the timeline; without one it is empty.
    EXPECT_EQ(FirstWaitLine(SplitScriptLines("wait x\nplug 2\n")), 2u);
    EXPECT_TRUE(SplitScriptLines("").empty());
}
