// Slots, masks and records of the simulated programmers.
#include "sim_devices.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SimDevice Dev(uint32_t id) {
    SimDeviceFields fields;
    fields.id = id;
    return MakeSimDevice(fields);
}

std::vector<uint32_t> Ids(const SimDeviceSet& set) {
    std::vector<uint32_t> ids;
    for (const SimDevice& device : set.slots)
        ids.push_back(device.id);
    return ids;
}

} // namespace

TEST(StandinDevices, DefaultsDerivedFromTheId) {
    SimDevice d = Dev(0x01020304);
    const uint8_t uid[6] = {0x70, 0x00, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(0, memcmp(d.uid, uid, 6));
    EXPECT_EQ(d.boot, 0x0204);
    EXPECT_EQ(d.name, "PROG-16909060");
    // Different ids give different uids, so labels never collide.
    EXPECT_NE(0, memcmp(Dev(5).uid, Dev(6).uid, 6));
}

TEST(StandinDevices, DefaultPairWhenNoScenario) {
    SimDeviceSet set;
    AttachDefaultDevices(set);
    ASSERT_EQ(Ids(set), (std::vector<uint32_t>{1, 2}));
    const uint8_t uidA[6] = {0x3A, 0x01, 0x7F, 0x00, 0x12, 0xC4};
    const uint8_t uidB[6] = {0x5C, 0x22, 0x91, 0x00, 0x47, 0xE1};
    EXPECT_EQ(0, memcmp(set.slots[0].uid, uidA, 6));
    EXPECT_EQ(0, memcmp(set.slots[1].uid, uidB, 6));
    EXPECT_EQ(set.slots[0].boot, 0x0210);
    EXPECT_EQ(set.slots[1].boot, 0x0211);
    EXPECT_EQ(set.slots[0].name, "PROG-A");
    EXPECT_EQ(set.slots[1].name, "PROG-B");
}

TEST(StandinDevices, SlotsFollowAttachmentAndCloseUp) {
    SimDeviceSet set;
    uint32_t mask = 0;
    for (uint32_t id : {10u, 20u, 30u, 40u}) {
        ASSERT_EQ(AttachDevice(set, Dev(id), mask), SimAttach::Attached);
        EXPECT_EQ(mask, 1u << (set.slots.size() - 1));
    }
    EXPECT_EQ(AllSlotsMask(set), 0xFu);

    ASSERT_TRUE(DetachDevice(set, 20, mask));
    EXPECT_EQ(mask, 0x2u); // the slot it had
    EXPECT_EQ(Ids(set), (std::vector<uint32_t>{10, 30, 40}));
    EXPECT_EQ(FindSlot(set, 40), 2);

    // A new device takes the first slot after the closed-up ones.
    ASSERT_EQ(AttachDevice(set, Dev(50), mask), SimAttach::Attached);
    EXPECT_EQ(mask, 0x8u);

    EXPECT_FALSE(DetachDevice(set, 20, mask));
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(DetachAllDevices(set), 0xFu);
    EXPECT_TRUE(set.slots.empty());
    EXPECT_EQ(AllSlotsMask(set), 0u);
    EXPECT_EQ(DetachAllDevices(set), 0u);
}

TEST(StandinDevices, DuplicatesAndASeventeenthDeviceAreRefused) {
    SimDeviceSet set;
    uint32_t mask = 0;
    for (uint32_t id = 1; id <= kSimMaxDevices; ++id)
        ASSERT_EQ(AttachDevice(set, Dev(id), mask), SimAttach::Attached);
    EXPECT_EQ(mask, 0x8000u);
    EXPECT_EQ(AllSlotsMask(set), 0xFFFFu);
    EXPECT_EQ(AttachDevice(set, Dev(3), mask), SimAttach::Duplicate);
    EXPECT_EQ(AttachDevice(set, Dev(17), mask), SimAttach::Full);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(set.slots.size(), kSimMaxDevices);
}

TEST(StandinDevices, RecordLayoutAndNames) {
    SimDeviceFields fields;
    fields.id = 0x11223344;
    fields.hasName = true;
    fields.name = "PROG-X";
    IspDeviceInfo record;
    memset(&record, 0xAB, sizeof record);
    FillDeviceRecord(MakeSimDevice(fields), false, record);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    // Little-endian id at 0 and boot version at 9, uid at 13, name at 21.
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
    EXPECT_EQ(bytes[9], 0x44);
    EXPECT_EQ(bytes[10], 0x02);
    EXPECT_EQ(bytes[13], 0x70);
    EXPECT_EQ(bytes[18], 0x44);
    EXPECT_STREQ(record.name, "PROG-X");
    // Bytes the tool does not read are zero, not left over.
    for (size_t i : {4, 5, 6, 7, 8, 11, 12, 19, 20})
        EXPECT_EQ(bytes[i], 0) << i;
    for (size_t i = 21 + 6; i < kIspDeviceInfoSize; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
}

TEST(StandinDevices, UnterminatedNamesFillAllFiftyBytes) {
    SimDeviceFields fields;
    fields.id = 1;
    fields.hasName = true;
    fields.name = "AB";
    IspDeviceInfo record;
    FillDeviceRecord(MakeSimDevice(fields), true, record);
    EXPECT_EQ(std::string(record.name, 2), "AB");
    EXPECT_EQ(memchr(record.name, 0, kIspDeviceNameSize), nullptr);
    EXPECT_EQ(record.name[49], '#');

    // A well-behaved record keeps a terminator even for the longest name.
    fields.name = std::string(kSimMaxNameLength, 'n');
    FillDeviceRecord(MakeSimDevice(fields), false, record);
    EXPECT_EQ(record.name[48], 'n');
    EXPECT_EQ(record.name[49], 0);
}
