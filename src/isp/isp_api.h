// The boundary with the programmer maker's ISP library (TAMLAISPDLL.DLL):
// the records it shares with the tool, the device event callback and the
// three imports. Layouts are fixed by the 32-bit DLL and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ISP_CALL __stdcall
#else
#define ISP_CALL
#endif

#pragma pack(push, 1)

// One attached programmer as the library reports it.
struct IspDeviceInfo {
    uint32_t deviceId;    // first argument of Tamla_FlashProgramB
    uint8_t reserved1[5]; // carried, not read
    uint16_t bootVersion; // printed after "BTVER:"
    uint8_t reserved2[2]; // carried, not read
    uint8_t uniqueId[6];  // printed as six hex bytes
    uint8_t reserved3[2]; // carried, not read
    char name[50];        // zero-terminated within the record by a well-behaved library
};

#pragma pack(pop)

constexpr size_t kIspDeviceInfoSize = 71;
constexpr size_t kIspDeviceNameSize = 50;
static_assert(sizeof(IspDeviceInfo) == kIspDeviceInfoSize, "device record is 71 bytes");
static_assert(offsetof(IspDeviceInfo, deviceId) == 0);
static_assert(offsetof(IspDeviceInfo, bootVersion) == 9);
static_assert(offsetof(IspDeviceInfo, uniqueId) == 13);
static_assert(offsetof(IspDeviceInfo, name) == 21);
static_assert(sizeof(IspDeviceInfo::name) == kIspDeviceNameSize);
static_assert(offsetof(IspDeviceInfo, name) + kIspDeviceNameSize == kIspDeviceInfoSize);

// The tool's device table: slot i is list entry i and bit i of an event mask.
constexpr uint32_t kIspDeviceSlots = 16;
// Records in the table a search hands the library, of which maxCount is
// kIspDeviceSlots: the rest is spare room that absorbs a library writing
// past maxCount. A write past all of them corrupts the tool.
constexpr uint32_t kIspSearchRecords = 2 * kIspDeviceSlots;
static_assert(kIspSearchRecords > kIspDeviceSlots);

// Same id and same unique id: the same programmer.
inline bool SameDevice(const IspDeviceInfo& a, const IspDeviceInfo& b) {
    if (a.deviceId != b.deviceId)
        return false;
    for (size_t i = 0; i < sizeof(a.uniqueId); ++i)
        if (a.uniqueId[i] != b.uniqueId[i])
            return false;
    return true;
}

// The option record is kept as raw bytes with named offsets: the library owns
// the meaning of most fields and may rewrite any of them during registration.
constexpr size_t kIspOptionSize = 901;

namespace isp_option {
constexpr size_t kMode = 0;     // int32, 1 switches list labels to device names
constexpr size_t kChipType = 4; // uint8
constexpr size_t kInt6 = 6;     // int32
constexpr size_t kInt10 = 10;   // int32
constexpr size_t kInt14 = 14;   // int32
constexpr size_t kInt18 = 18;   // int32
constexpr size_t kInt22 = 22;   // int32
constexpr size_t kInt52 = 52;   // int32
constexpr size_t kInt56 = 56;   // int32
constexpr size_t kInt60 = 60;   // int32
constexpr size_t kPath1 = 64;   // 260-byte text
constexpr size_t kPath2 = 324;  // 260-byte text
constexpr size_t kPathSize = 260;
constexpr size_t kSerialNoKey = 844; // int32
constexpr size_t kFlag848 = 848;     // uint8
constexpr size_t kEventNotify = 853; // int32
constexpr size_t kCallback = 865;    // 32-bit callback field

constexpr uint8_t kChipTypeCode = 0x59;

static_assert(kPath1 + kPathSize == kPath2);
static_assert(kPath2 + kPathSize <= kSerialNoKey);
static_assert(kCallback + 4 <= kIspOptionSize);
} // namespace isp_option

struct IspOption {
    uint8_t bytes[kIspOptionSize];
};
static_assert(sizeof(IspOption) == kIspOptionSize, "option record is 901 bytes");
static_assert(alignof(IspOption) == 1, "option record is byte-packed");

// Event code 3 is the arrival of the devices named in the mask.
constexpr int32_t kIspEventArrival = 3;

typedef int32_t(ISP_CALL* DeviceEventCallback)(int32_t event, uint32_t deviceMask, uint32_t count);

extern "C" {
int32_t ISP_CALL Tamla_EnumDevices(IspDeviceInfo* devices, uint32_t maxCount);
int32_t ISP_CALL Tamla_SetIspOption(IspOption* option);
int32_t ISP_CALL Tamla_FlashProgramB(uint32_t deviceId, const uint8_t* image, uint32_t length,
                                     int32_t arg4, int32_t arg5, int32_t arg6, int32_t arg7);
}

// The callback field of the option record is 4 bytes wide. In the Windows
// builds it is the callback's address (the x64 twin's image lies below
// 4 GiB). A 64-bit host build (the native test build) cannot fit an address
// there, so it stores a small handle that the fake library turns back into
// the function; the record layout is the same. 0 means no callback: also
// what IspEncodeCallback returns for one the field cannot carry.
uint32_t IspEncodeCallback(DeviceEventCallback callback);
DeviceEventCallback IspDecodeCallback(uint32_t field);

// Little-endian field access, independent of the host's byte order.
inline uint32_t IspGetU32(const IspOption& option, size_t offset) {
    const uint8_t* p = option.bytes + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void IspPutU32(IspOption& option, size_t offset, uint32_t value) {
    uint8_t* p = option.bytes + offset;
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}
