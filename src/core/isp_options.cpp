#include "isp_options.h"

#include "device_events.h"
#include "dialog_access.h"
#include "isp_option_record.h"
#include "resource.h"
#include "shared_state.h"

#include <cstring>
#include "core_mutex.h"

int32_t ApplyIspOptions() {
    IspOption option = BuildIspOption(Dialog().IsChecked(IDC_SERIAL_NOKEY), &OnDeviceEvent);
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
