#include "fake_library.h"

#include <algorithm>
#include <cstring>

IspDeviceInfo MakeDevice(uint32_t id, std::array<uint8_t, 6> uid, uint16_t bootVersion,
                         const char* name) {
    IspDeviceInfo device;
    std::memset(&device, 0, sizeof(device));
    device.deviceId = id;
    device.bootVersion = bootVersion;
    std::memcpy(device.uniqueId, uid.data(), uid.size());
    std::strncpy(device.name, name, sizeof(device.name) - 1);
    return device;
}

FakeLibrary& FakeLibrary::Instance() {
    static FakeLibrary library;
    return library;
}

FakeLibrary::~FakeLibrary() { StopEventThread(); }

void FakeLibrary::StopEventThread() {
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        stopping_ = true;
    }
    eventWake_.notify_all();
    if (eventThread_.joinable())
        eventThread_.join();
    std::lock_guard<std::mutex> lock(eventMutex_);
    stopping_ = false;
    events_.clear();
}

void FakeLibrary::Reset() {
    StopEventThread();
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.clear();
    enumResult_.reset();
    optionResult_ = 1;
    modeOnRegister_.reset();
    flashResult_ = 1;
    flashDelay_ = std::chrono::microseconds(0);
    keepImages_ = true;
    onFlash_ = nullptr;
    onEnum_ = nullptr;
    callbackField_ = 0;
    registrations_.clear();
    enumCalls_ = 0;
    flashCalls_.clear();
    eventResults_.clear();
}

void FakeLibrary::SetDevices(std::vector<IspDeviceInfo> devices) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_ = std::move(devices);
}

std::vector<IspDeviceInfo> FakeLibrary::Devices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

void FakeLibrary::SetEnumResult(std::optional<int32_t> result) {
    std::lock_guard<std::mutex> lock(mutex_);
    enumResult_ = result;
}

void FakeLibrary::SetOptionResult(int32_t result) {
    std::lock_guard<std::mutex> lock(mutex_);
    optionResult_ = result;
}

void FakeLibrary::SetModeOnRegister(std::optional<int32_t> mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    modeOnRegister_ = mode;
}

void FakeLibrary::SetFlashResult(int32_t result) {
    std::lock_guard<std::mutex> lock(mutex_);
    flashResult_ = result;
}

void FakeLibrary::SetFlashDelay(std::chrono::microseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    flashDelay_ = delay;
}

void FakeLibrary::KeepImages(bool keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepImages_ = keep;
}

void FakeLibrary::SetOnFlash(std::function<void(uint32_t)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onFlash_ = std::move(hook);
}

void FakeLibrary::SetOnEnum(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onEnum_ = std::move(hook);
}

std::vector<IspOption> FakeLibrary::Registrations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return registrations_;
}

int FakeLibrary::EnumCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return enumCalls_;
}

std::vector<FlashCall> FakeLibrary::FlashCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return flashCalls_;
}

size_t FakeLibrary::FlashCallCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return flashCalls_.size();
}

int32_t FakeLibrary::Enum(IspDeviceInfo* devices, uint32_t maxCount) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = onEnum_;
    }
    if (hook)
        hook();
    std::lock_guard<std::mutex> lock(mutex_);
    ++enumCalls_;
    uint32_t written = std::min<uint32_t>(uint32_t(devices_.size()), maxCount);
    std::copy_n(devices_.begin(), written, devices);
    return enumResult_ ? *enumResult_ : int32_t(written);
}

int32_t FakeLibrary::SetOption(IspOption* option) {
    std::lock_guard<std::mutex> lock(mutex_);
    registrations_.push_back(*option);
    if (modeOnRegister_)
        IspPutU32(*option, isp_option::kMode, uint32_t(*modeOnRegister_));
    if (optionResult_ != 0)
        callbackField_ = IspGetU32(*option, isp_option::kCallback);
    return optionResult_;
}

int32_t FakeLibrary::Flash(uint32_t deviceId, const uint8_t* image, uint32_t length, int32_t a4,
                           int32_t a5, int32_t a6, int32_t a7) {
    std::function<void(uint32_t)> hook;
    std::chrono::microseconds delay;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        FlashCall call{deviceId, length, {a4, a5, a6, a7}, {}};
        if (keepImages_)
            call.image.assign(image, image + length);
        flashCalls_.push_back(std::move(call));
        hook = onFlash_;
        delay = flashDelay_;
    }
    if (hook)
        hook(deviceId);
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    std::lock_guard<std::mutex> lock(mutex_);
    return flashResult_;
}

int32_t FakeLibrary::FireEvent(int32_t event, uint32_t mask, uint32_t count) {
    uint32_t field;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        field = callbackField_;
    }
    DeviceEventCallback callback = IspDecodeCallback(field);
    int32_t result = callback ? callback(event, mask, count) : -1;
    std::lock_guard<std::mutex> lock(mutex_);
    eventResults_.push_back(result);
    return result;
}

std::vector<int32_t> FakeLibrary::EventResults() {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventResults_;
}

void FakeLibrary::FireEventAsync(int32_t event, uint32_t mask, uint32_t count) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!eventThread_.joinable())
        eventThread_ = std::thread(&FakeLibrary::EventLoop, this);
    events_.push_back({event, mask, count});
    eventWake_.notify_all();
}

void FakeLibrary::WaitEvents() {
    std::unique_lock<std::mutex> lock(eventMutex_);
    eventIdle_.wait(lock, [this] { return events_.empty() && !delivering_; });
}

void FakeLibrary::EventLoop() {
    std::unique_lock<std::mutex> lock(eventMutex_);
    for (;;) {
        eventWake_.wait(lock, [this] { return stopping_ || !events_.empty(); });
        if (stopping_)
            break;
        Event event = events_.front();
        events_.pop_front();
        delivering_ = true;
        lock.unlock();
        FireEvent(event.event, event.mask, event.count);
        lock.lock();
        delivering_ = false;
        if (events_.empty())
            eventIdle_.notify_all();
    }
    delivering_ = false;
    eventIdle_.notify_all();
}

extern "C" {
int32_t Tamla_EnumDevices(IspDeviceInfo* devices, uint32_t maxCount) {
    return FakeLibrary::Instance().Enum(devices, maxCount);
}

int32_t Tamla_SetIspOption(IspOption* option) { return FakeLibrary::Instance().SetOption(option); }

int32_t Tamla_FlashProgramB(uint32_t deviceId, const uint8_t* image, uint32_t length, int32_t a4,
                            int32_t a5, int32_t a6, int32_t a7) {
    return FakeLibrary::Instance().Flash(deviceId, image, length, a4, a5, a6, a7);
}
}
