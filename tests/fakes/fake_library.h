// Scriptable stand-in for the ISP library in the native tests: it defines
// the three imports, records every call and fires device events through the
// registered callback, either on the caller's thread or on a thread of its
// own as the real library does.
//
// Two behaviours of real libraries can be switched on, alone or together:
//   kCallsBackInsideCalls  the callback is also called on the caller's
//       thread from inside the exports: an arrival of the attached devices
//       inside an accepted Tamla_SetIspOption; inside every
//       Tamla_EnumDevices, the events queued so far (each event is delivered
//       once, by whichever thread takes it first) and then a change naming
//       the attached devices. Never from inside a callback already running
//       on that thread;
//   kCallsBackUnderLock    the event thread holds the library's own
//       (recursive) lock while it calls back, and every export takes it.
#pragma once

#include "isp_api.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct FlashCall {
    uint32_t deviceId;
    uint32_t length;
    int32_t args[4];
    std::vector<uint8_t> image; // empty unless images are kept
};

IspDeviceInfo MakeDevice(uint32_t id, std::array<uint8_t, 6> uid, uint16_t bootVersion,
                         const char* name = "");

enum LibraryBehaviour : unsigned {
    kCallsBackInsideCalls = 1u << 0,
    kCallsBackUnderLock = 1u << 1,
};

class FakeLibrary {
public:
    static FakeLibrary& Instance();

    // Back to: no devices, every call succeeds at once, nothing recorded,
    // neither behaviour above.
    void Reset();

    void SetBehaviour(unsigned behaviour);
    void SetDevices(std::vector<IspDeviceInfo> devices);
    std::vector<IspDeviceInfo> Devices();
    // What Tamla_EnumDevices returns instead of the number written.
    void SetEnumResult(std::optional<int32_t> result);
    // How long Tamla_EnumDevices scans before it copies the records (outside
    // the library's lock).
    void SetEnumDelay(std::chrono::microseconds delay);
    void SetOptionResult(int32_t result);
    // Mode the library writes into the record during registration.
    void SetModeOnRegister(std::optional<int32_t> mode);
    void SetFlashResult(int32_t result);
    void SetFlashDelay(std::chrono::microseconds delay);
    void KeepImages(bool keep);
    // Runs inside Tamla_FlashProgramB, before the delay.
    void SetOnFlash(std::function<void(uint32_t deviceId)> hook);
    // Runs inside Tamla_EnumDevices, before the records are written.
    void SetOnEnum(std::function<void()> hook);

    std::vector<IspOption> Registrations();
    int EnumCalls();
    std::vector<FlashCall> FlashCalls();
    size_t FlashCallCount();
    // The image of the last write, kept whatever KeepImages says.
    std::vector<uint8_t> LastImage();
    // Writes whose image buffer changed while the library was writing it.
    size_t ImagesChangedDuringWrite();

    // What the callback answered to each event delivered, in order.
    std::vector<int32_t> EventResults();
    // Changes reported from inside Tamla_EnumDevices and Tamla_SetIspOption.
    int ReportsInsideCalls();
    // Calls the registered callback on this thread; -1 without one.
    int32_t FireEvent(int32_t event, uint32_t mask, uint32_t count);
    // Queues the event for the library's own event thread.
    void FireEventAsync(int32_t event, uint32_t mask, uint32_t count);
    // Waits until at most backlog events are queued or being delivered.
    void WaitEvents(size_t backlog = 0);
    // Events queued and not yet delivered, and being delivered; for watchdogs.
    size_t EventsNotDelivered();

    int32_t Enum(IspDeviceInfo* devices, uint32_t maxCount);
    int32_t SetOption(IspOption* option);
    int32_t Flash(uint32_t deviceId, const uint8_t* image, uint32_t length, int32_t a4, int32_t a5,
                  int32_t a6, int32_t a7);

    ~FakeLibrary();

private:
    struct Event {
        int32_t event;
        uint32_t mask;
        uint32_t count;
    };
    void EventLoop();
    void StopEventThread();
    // Delivers on this thread every event queued so far.
    void DeliverQueuedEvents();
    bool Has(LibraryBehaviour behaviour);

    // The library's own lock (taken before mutex_ or eventMutex_, never
    // while either is held).
    std::recursive_mutex libraryLock_;

    std::mutex mutex_;
    unsigned behaviour_ = 0;
    std::vector<IspDeviceInfo> devices_;
    std::optional<int32_t> enumResult_;
    std::chrono::microseconds enumDelay_{0};
    int32_t optionResult_ = 1;
    std::optional<int32_t> modeOnRegister_;
    int32_t flashResult_ = 1;
    std::chrono::microseconds flashDelay_{0};
    bool keepImages_ = true;
    std::function<void(uint32_t)> onFlash_;
    std::function<void()> onEnum_;
    uint32_t callbackField_ = 0;
    std::vector<IspOption> registrations_;
    int enumCalls_ = 0;
    std::vector<FlashCall> flashCalls_;
    std::vector<uint8_t> lastImage_;
    size_t imagesChanged_ = 0;
    std::vector<int32_t> eventResults_;
    int reportsInsideCalls_ = 0;

    std::mutex eventMutex_;
    std::condition_variable eventWake_;
    std::condition_variable eventIdle_;
    std::deque<Event> events_;
    int delivering_ = 0;
    bool stopping_ = false;
    std::thread eventThread_;
};
