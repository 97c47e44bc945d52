#include "device_events.h"

#include "busy_handshake.h"
#include "device_discovery.h"
#include "shared_state.h"

int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count) {
    DeviceCount = count;
    if (DeferRefreshIfBusy())
        return 1;

    const bool automatic = AutoDownload.load() != 0;
    const uint32_t arrivals = automatic && event == kIspEventArrival ? deviceMask & kSlotMask : 0;
    const size_t runs = HandleDeviceChange(arrivals);
    if (!automatic)
        return 0;
    // 0: this call configured at least one device before returning.
    return runs != 0 ? 0 : 1;
}
