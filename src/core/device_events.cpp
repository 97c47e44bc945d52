#include "device_events.h"

#include "device_coordination.h"
#include "shared_state.h"

int32_t ISP_CALL OnDeviceEvent(int32_t event, uint32_t deviceMask, uint32_t count) {
    const bool automatic = AutoDownload.load() != 0;
    DeviceReport report{};
    report.arrival = automatic && event == kIspEventArrival && (deviceMask & kSlotMask) != 0;
    // A bit at or above the event's own count names a slot the library does
    // not have.
    const uint32_t slots = count < kDeviceSlots ? (1u << count) - 1 : kSlotMask;
    report.invalidSlots = report.arrival ? deviceMask & kSlotMask & ~slots : 0;
    const ReportAnswer answer = ReportDeviceChange(report);
    if (answer.deferred)
        return 1;
    if (!automatic)
        return 0;
    // 0: this call configured at least one device before returning.
    return answer.runs != 0 ? 0 : 1;
}
