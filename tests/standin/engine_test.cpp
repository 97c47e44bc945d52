// What commands change, which events they fire, and how the exports answer.
#include "sim_engine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SimOutcome Apply(SimState& state, const char* line) {
    SimCommand command;
    std::string error;
    EXPECT_EQ(ParseSimCommand(line, command, error), SimParse::Command) << line << ": " << error;
    return ApplySimCommand(state, command);
}

void ExpectEvent(const SimOutcome& outcome, int32_t code, uint32_t mask, uint32_t count) {
    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.events.size(), 1u);
    EXPECT_EQ(outcome.events[0].code, code);
    EXPECT_EQ(outcome.events[0].mask, mask);
    EXPECT_EQ(outcome.events[0].count, count);
}

IspOption ToolRecord(uint32_t callback) {
    IspOption option;
    memset(option.bytes, 0, sizeof option.bytes);
    option.bytes[isp_option::kChipType] = isp_option::kChipTypeCode;
    IspPutU32(option, isp_option::kEventNotify, 1);
    IspPutU32(option, isp_option::kCallback, callback);
    return option;
}

} // namespace

TEST(StandinEngine, PlugAndUnplugFireEventsWithSlotMasksAndCounts) {
    SimState state = DefaultSimState();
    ExpectEvent(Apply(state, "plug 5"), kIspEventArrival, 0x4, 3);
    ExpectEvent(Apply(state, "plug 6 name=Z"), kIspEventArrival, 0x8, 4);
    ExpectEvent(Apply(state, "unplug 1"), kSimEventRemoval, 0x1, 3);
    // Slots closed up: device 6 moved from slot 3 to slot 2.
    ExpectEvent(Apply(state, "unplug 6"), kSimEventRemoval, 0x4, 2);
    ExpectEvent(Apply(state, "unplug-all"), kSimEventRemoval, 0x3, 0);
    EXPECT_TRUE(state.devices.slots.empty());
}

TEST(StandinEngine, SilentAttachAndRefusedChanges) {
    SimState state;
    SimOutcome outcome = Apply(state, "device 3");
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.events.empty());
    EXPECT_EQ(state.devices.slots.size(), 1u);

    outcome = Apply(state, "plug 3");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("already attached"), std::string::npos);
    EXPECT_TRUE(outcome.events.empty());

    outcome = Apply(state, "unplug 4");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.events.empty());

    Apply(state, "unplug 3");
    outcome = Apply(state, "unplug-all"); // nothing attached: nothing changes
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.events.empty());
}

TEST(StandinEngine, RawEventsStormsAndWaits) {
    SimState state = DefaultSimState();
    ExpectEvent(Apply(state, "event 7 0xFFFF 99"), 7, 0xFFFF, 99);

    SimOutcome storm = Apply(state, "storm 3");
    ASSERT_EQ(storm.events.size(), 3u);
    for (const SimEvent& event : storm.events) {
        EXPECT_EQ(event.code, 1);
        EXPECT_EQ(event.mask, 0x3u);
        EXPECT_EQ(event.count, 2u);
    }
    EXPECT_EQ(Apply(state, "storm 1 3").events[0].code, 3);
    EXPECT_TRUE(Apply(state, "storm 0").events.empty());
    EXPECT_EQ(Apply(state, "wait 250").waitMs, 250u);
}

TEST(StandinEngine, EnumerationNeverWritesPastMaxCount) {
    SimState state = DefaultSimState();
    IspDeviceInfo table[4];
    memset(table, 0xEE, sizeof table);
    EXPECT_EQ(EnumerateSimDevices(state, table, 1), 1); // the records written
    EXPECT_EQ(uint32_t{table[0].deviceId}, 1u);
    EXPECT_EQ(uint32_t{table[1].deviceId}, 0xEEEEEEEEu);

    Apply(state, "enum-count 40");
    memset(table, 0xEE, sizeof table);
    EXPECT_EQ(EnumerateSimDevices(state, table, 3), 40);
    EXPECT_EQ(uint32_t{table[1].deviceId}, 2u);
    EXPECT_EQ(uint32_t{table[2].deviceId}, 0xEEEEEEEEu); // only two devices exist

    Apply(state, "enum-count 1");
    memset(table, 0xEE, sizeof table);
    EXPECT_EQ(EnumerateSimDevices(state, table, 4), 1);
    EXPECT_EQ(uint32_t{table[1].deviceId}, 0xEEEEEEEEu);

    Apply(state, "enum-count off");
    EXPECT_EQ(EnumerateSimDevices(state, table, 0), 0);
    EXPECT_EQ(EnumerateSimDevices(state, nullptr, 16), 2);

    Apply(state, "unterminated-names on");
    EnumerateSimDevices(state, table, 4);
    EXPECT_EQ(memchr(table[0].name, 0, kIspDeviceNameSize), nullptr);
    Apply(state, "unterminated-names off");
    EnumerateSimDevices(state, table, 4);
    EXPECT_STREQ(table[0].name, "PROG-A");
}

TEST(StandinEngine, RegistrationAnswerModeAndCallback) {
    SimState state = DefaultSimState();
    IspOption record = ToolRecord(0x00401230);
    EXPECT_EQ(RegisterSimOption(state, record), 1);
    EXPECT_EQ(IspGetU32(record, isp_option::kMode), 0u); // left as passed
    EXPECT_EQ(EventCallbackField(record), 0x00401230u);

    Apply(state, "mode 1");
    Apply(state, "option-result 0");
    record = ToolRecord(0x00401230);
    EXPECT_EQ(RegisterSimOption(state, record), 0);
    EXPECT_EQ(IspGetU32(record, isp_option::kMode), 1u);

    Apply(state, "mode off");
    Apply(state, "option-result 1");
    record = ToolRecord(0x00401230);
    IspPutU32(record, isp_option::kMode, 5);
    EXPECT_EQ(RegisterSimOption(state, record), 1);
    EXPECT_EQ(IspGetU32(record, isp_option::kMode), 5u);

    // Notification off means no events, whatever the callback field holds.
    IspPutU32(record, isp_option::kEventNotify, 0);
    EXPECT_EQ(EventCallbackField(record), 0u);
}

TEST(StandinEngine, WritePlans) {
    SimState state = DefaultSimState();
    SimFlashPlan plan = PlanSimFlash(state, 1, true, 61440);
    EXPECT_EQ(plan.error, nullptr);
    EXPECT_EQ(plan.result, 1);
    EXPECT_EQ(plan.durationMs, kSimDefaultFlashMs);
    EXPECT_FALSE(plan.unplugHalfway);

    EXPECT_STREQ(PlanSimFlash(state, 9, true, 61440).error, "no-device");
    EXPECT_STREQ(PlanSimFlash(state, 1, false, 61440).error, "no-image");
    EXPECT_STREQ(PlanSimFlash(state, 1, true, 0).error, "no-image");
    EXPECT_STREQ(PlanSimFlash(state, 1, true, kSimMaxImage + 1).error, "image-too-large");

    Apply(state, "flash-result 0");
    Apply(state, "flash-ms 20");
    plan = PlanSimFlash(state, 2, true, 61440);
    EXPECT_EQ(plan.result, 0);
    EXPECT_EQ(plan.durationMs, 20u);
}

TEST(StandinEngine, UnplugDuringWriteAppliesToTheNextWriteOnly) {
    SimState state = DefaultSimState();
    Apply(state, "unplug-during-write 1");
    Apply(state, "unplug-during-write 1"); // arming twice is still one write
    Apply(state, "unplug-after-search 2");
    EXPECT_EQ(state.unplugAfterSearch, std::vector<uint32_t>{2}); // the searches' own list

    // Another device's write is not affected.
    EXPECT_FALSE(PlanSimFlash(state, 2, true, 61440).unplugHalfway);

    SimFlashPlan plan = PlanSimFlash(state, 1, true, 61440);
    EXPECT_TRUE(plan.unplugHalfway);
    EXPECT_EQ(plan.result, 0);
    SimEvent event;
    ASSERT_TRUE(UnplugArmed(state, 1, event));
    EXPECT_EQ(event.code, kSimEventRemoval);
    EXPECT_EQ(event.mask, 0x1u);
    EXPECT_EQ(event.count, 1u);
    EXPECT_FALSE(UnplugArmed(state, 1, event)); // already gone

    Apply(state, "device 1");
    EXPECT_FALSE(PlanSimFlash(state, 1, true, 61440).unplugHalfway);
}

TEST(StandinEngine, CallModesAndTheArrivalReportedOnRegistration) {
    SimState state = DefaultSimState();
    SimEvent arrival;
    EXPECT_FALSE(ArrivalOnRegistration(state, 1, arrival)); // mode off

    Apply(state, "callbacks-in-calls on");
    Apply(state, "callbacks-under-lock on");
    Apply(state, "enum-ms 300");
    Apply(state, "rescan-ms 2500");
    EXPECT_TRUE(state.syncCallbacks && state.lockedCallbacks);
    EXPECT_EQ(state.enumMs, 300u);
    EXPECT_EQ(state.rescanMs, 2500u);
    ASSERT_TRUE(ArrivalOnRegistration(state, 1, arrival));
    EXPECT_EQ(arrival.code, kIspEventArrival);
    EXPECT_EQ(arrival.mask, 0x3u);
    EXPECT_EQ(arrival.count, 2u);
    EXPECT_FALSE(ArrivalOnRegistration(state, 0, arrival)); // refused
    // Every search reports the set as a plain change, but not to a callback
    // already running on the searching thread.
    SimEvent change;
    ASSERT_TRUE(ChangeInSearch(state, false, change));
    EXPECT_NE(change.code, kIspEventArrival);
    EXPECT_EQ(change.mask, 0x3u);
    EXPECT_EQ(change.count, 2u);
    EXPECT_FALSE(ChangeInSearch(state, true, change));
    Apply(state, "unplug-all");
    EXPECT_FALSE(ArrivalOnRegistration(state, 1, arrival)); // nothing attached
    ASSERT_TRUE(ChangeInSearch(state, false, change));      // an empty set too
    EXPECT_EQ(change.mask, 0u);
    EXPECT_EQ(change.count, 0u);

    Apply(state, "callbacks-in-calls off");
    Apply(state, "callbacks-under-lock off");
    EXPECT_FALSE(state.syncCallbacks || state.lockedCallbacks);
    EXPECT_FALSE(ChangeInSearch(state, false, change));
}

TEST(StandinEngine, ImageChangesAreCountedFromTheFirstOne) {
    uint8_t start[64] = {};
    uint8_t end[64] = {};
    EXPECT_EQ(CompareImage(start, end, sizeof start).bytes, 0u);
    end[5] = 1;
    end[63] = 0xFF;
    SimImageChange change = CompareImage(start, end, sizeof start);
    EXPECT_EQ(change.bytes, 2u);
    EXPECT_EQ(change.first, 5u);
    EXPECT_EQ(CompareImage(start, end, 5).bytes, 0u); // only the length given is read
}
