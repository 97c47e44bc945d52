#include "isp_options.h"

#include "close_guard.h"
#include "core_mutex.h"
#include "device_events.h"
#include "dialog_access.h"
#include "isp_option_record.h"
#include "log.h"
#include "resource.h"
#include "shared_state.h"

#include <atomic>
#include <cstring>

namespace {
IspOption BuildRecord() {
    return BuildIspOption(Dialog().IsChecked(IDC_SERIAL_NOKEY), &OnDeviceEvent);
}

int32_t Register(IspOption& option) {
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
} // namespace

int32_t ApplyIspOptions() {
    IspOption option = BuildRecord();
    return Register(option);
}

void RegisterOptionsAndLog(bool logSuccess) {
    // Registered without a callback, the library reports no plugging or
    // unplugging: say so once rather than stay silent.
    static std::atomic<bool> s_reportedNoCallback{false};
    if (!DeviceEventsCanBeRegistered() && !s_reportedNoCallback.exchange(true))
        LogPrintf("Device events off: the event handler's address does not fit the option "
                  "record's 4-byte field");
    IspOption option = BuildRecord();
    // Checked last before the call: nothing reaches the library once the tool
    // is closing.
    if (CloseDecided())
        return;
    if (Register(option) == 0)
        LogPrintf("Set isp option failure.");
    else if (logSuccess)
        LogPrintf("Set isp option succ");
}

bool DeviceEventsCanBeRegistered() { return IspEncodeCallback(&OnDeviceEvent) != 0; }
