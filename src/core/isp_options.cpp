#include "isp_options.h"

#include "device_events.h"
#include "dialog_access.h"
#include "resource.h"
#include "shared_state.h"

#include <cstring>
#include "core_mutex.h"

IspOption BuildIspOption(bool serialNoKey) {
    using namespace isp_option;
    IspOption option;
    std::memset(&option, 0, sizeof(option));
    option.bytes[kChipType] = kChipTypeCode;
    IspPutU32(option, kInt14, 1);
    IspPutU32(option, kInt18, 1);
    IspPutU32(option, kSerialNoKey, serialNoKey ? 1 : 0);
    option.bytes[kFlag848] = 1;
    IspPutU32(option, kEventNotify, 1);
    IspPutU32(option, kCallback, IspEncodeCallback(&OnDeviceEvent));
    return option;
}

int32_t ApplyIspOptions() {
    IspOption option = BuildIspOption(Dialog().IsChecked(IDC_SERIAL_NOKEY));
    const bool accepted = Tamla_SetIspOption(&option) != 0;
    {
        CoreLock lock(CurrentOptionLock);
        if (accepted)
            CurrentOption = option;
        else
            std::memset(&CurrentOption, 0, sizeof(CurrentOption));
    }
    // The library may have changed the mode during the call.
    const int32_t mode = static_cast<int32_t>(IspGetU32(option, isp_option::kMode));
    AutoDownload = Dialog().IsChecked(IDC_AUTO_DOWNLOAD) && mode == 0 ? 1 : 0;
    return accepted ? 1 : 0;
}

bool DeviceEventsCanBeRegistered() { return IspEncodeCallback(&OnDeviceEvent) != 0; }
