// Who calls into the library, and when: the one place where registrations,
// searches, device events and configuration runs meet. Its rules are stated
// at the top of device_coordination.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// Asks for a search; returns DeviceCount as it stands when the call returns.
// When no other thread is at work on the library, this thread does the
// search itself, and every piece of work asked for meanwhile, before it
// returns; otherwise the request is left for that thread.
uint32_t RefreshDeviceList();

// Asks for the device in table slot index, as the table stands now, to be
// configured; works like RefreshDeviceList. Always returns 0: the outcome
// goes to the log and the result field.
uint32_t ConfigureDevice(uint32_t index);

// What a command of the dialog asks for. The dialog's thread only records it
// and returns: a worker thread, or the thread already at work, does it.
struct DialogRequest {
    // A registration of the option record, and which outcome it logs.
    enum class Registration : uint8_t { None, LogFailure, LogEither };
    Registration registration;
    bool search; // after the registration
    // Configure: the list entry selected at the press, whose device is taken
    // now, as the entry names it; -1 for none.
    int32_t press;
};
void AskFromDialog(const DialogRequest& request);

// The body of a worker thread the dialog started: does the work waiting,
// unless another thread is at it. Returns how many runs this thread did.
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
// (a library may deliver its events through a window of its own, on the
// thread that loaded it) is handed to a worker thread.
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
bool WorkInProgress(); // a thread is at work on the library
bool RunInProgress();
bool RequestPending(); // a registration or a search is waiting
void ResetDeviceCoordination();
#endif
