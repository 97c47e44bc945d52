#include "device_events.h"

#include "busy_handshake.h"
#include "device_discovery.h"
#include "shared_state.h"

namespace {
constexpr uint32_t kSlotMask = (1u << kDeviceSlots) - 1;
} // namespace

int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count) {
    DeviceCount = count;
    if (DeferRefreshIfBusy())
        return 1;

    const bool automatic = AutoDownload.load() != 0;
    const uint32_t arrivals = automatic && event == kIspEventArrival ? deviceMask & kSlotMask : 0;
    // If a refresher runs elsewhere, this request and its arrivals are handed
    // to it: its next search may see devices the table does not hold yet.
    RefreshDeviceListAndConfigure(arrivals);
    if (!automatic)
        return 0;
    return arrivals != 0 ? 0 : 1;
}
