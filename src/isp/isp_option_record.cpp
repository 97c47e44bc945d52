#include "isp_option_record.h"

#include <cstring>

IspOption BuildIspOption(bool serialNoKey, DeviceEventCallback callback) {
    using namespace isp_option;
    IspOption option;
    std::memset(&option, 0, sizeof(option));
    option.bytes[kChipType] = kChipTypeCode;
    IspPutU32(option, kInt14, 1);
    IspPutU32(option, kInt18, 1);
    IspPutU32(option, kSerialNoKey, serialNoKey ? 1 : 0);
    option.bytes[kFlag848] = 1;
    IspPutU32(option, kEventNotify, 1);
    IspPutU32(option, kCallback, IspEncodeCallback(callback));
    return option;
}
