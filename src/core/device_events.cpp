#include "device_events.h"

#include "config_run.h"
#include "device_discovery.h"
#include "dialog_access.h"
#include "resource.h"
#include "shared_state.h"

#include "core_mutex.h"

int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count) {
    {
        // Same lock as the end of a run: a deferred event is always seen there.
        CoreLock lock(BusyLock);
        DeviceCount = count;
        if (ConfigBusy.load() != 0) {
            RefreshPending = 1;
            return 1;
        }
    }

    RefreshDeviceList();
    if (AutoDownload.load() == 0)
        return 0;
    if (event != kIspEventArrival)
        return 1;

    bool configured = false;
    for (uint32_t slot = 0; slot < kDeviceSlots; ++slot) {
        if ((deviceMask & (1u << slot)) == 0)
            continue;
        Dialog().SelectEntry(IDC_DEVICE_LIST, static_cast<int>(slot));
        ConfigureDevice(slot);
        configured = true;
    }
    return configured ? 0 : 1;
}
