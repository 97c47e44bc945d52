// Scriptable stand-in for the ISP library in the native tests: it defines
// the three imports, records every call and fires device events through the
// registered callback, either on the caller's thread or on a thread of its
// own as the real library does.
#pragma once

#include "isp_api.h"

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

class FakeLibrary {
public:
    static FakeLibrary& Instance();

    // Back to: no devices, every call succeeds at once, nothing recorded.
    void Reset();

    void SetDevices(std::vector<IspDeviceInfo> devices);
    std::vector<IspDeviceInfo> Devices();
    // What Tamla_EnumDevices returns instead of the number written.
    void SetEnumResult(std::optional<int32_t> result);
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

    // What the callback answered to each event delivered, in order.
    std::vector<int32_t> EventResults();
    // Calls the registered callback on this thread; -1 without one.
    int32_t FireEvent(int32_t event, uint32_t mask, uint32_t count);
    // Queues the event for the library's own event thread.
    void FireEventAsync(int32_t event, uint32_t mask, uint32_t count);
    // Waits until the event thread has delivered everything queued.
    void WaitEvents();

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

    std::mutex mutex_;
    std::vector<IspDeviceInfo> devices_;
    std::optional<int32_t> enumResult_;
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
    std::vector<int32_t> eventResults_;

    std::mutex eventMutex_;
    std::condition_variable eventWake_;
    std::condition_variable eventIdle_;
    std::deque<Event> events_;
    bool delivering_ = false;
    bool stopping_ = false;
    std::thread eventThread_;
};
