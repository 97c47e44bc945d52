// Who searches and who writes, and when: the one place where searches, device
// events and configuration runs meet. Its rules are stated at the top of
// device_coordination.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// Asks for a search; returns DeviceCount as it stands when the call returns.
// When no other thread is at work on the devices, this thread does the
// search itself, and every piece of work asked for meanwhile, before it
// returns; otherwise the request is left for that thread.
uint32_t RefreshDeviceList();

// Asks for the device in table slot index, as the table stands now, to be
// configured; works like RefreshDeviceList. Always returns 0: the outcome
// goes to the log and the result field.
uint32_t ConfigureDevice(uint32_t index);

// The configure button, on the dialog's thread: queues the device of the list
// entry selected at the press and returns a ticket for it. The worker thread
// started for the press then calls RunQueuedWork; if none can start, the
// press is withdrawn (false when a thread at work took it already).
uint32_t QueuePressedDevice(uint32_t selection);
bool WithdrawPress(uint32_t ticket);
// Does the work waiting, unless another thread is at it. Returns how many
// runs this thread did.
size_t RunQueuedWork();

// What the device event handler reports.
struct DeviceReport {
    bool arrival;          // automatic download is to write what arrived
    uint32_t invalidSlots; // arrival bits at or above the event's own count
};
struct ReportAnswer {
    bool deferred; // a run was going on: the search waits for its end
    size_t runs;   // runs this thread did before returning
};
ReportAnswer ReportDeviceChange(const DeviceReport& report);

// Marks the calling thread as the dialog's for the life of the object. The
// dialog's thread never does the work itself: a device event reported on it
// (from inside a registration) is handed to a worker thread.
class OnDialogThread {
public:
    OnDialogThread();
    ~OnDialogThread();
    OnDialogThread(const OnDialogThread&) = delete;
    OnDialogThread& operator=(const OnDialogThread&) = delete;

private:
    bool outer_;
};

#if CORE_TESTING
// Read-only views and a reset, for the tests only (not in the tool).
bool WorkInProgress(); // a thread is at work on the devices
bool RunInProgress();
bool SearchRequestPending();
void ResetDeviceCoordination();
#endif
