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

namespace {
// Callbacks running on this thread, so a call made from inside one is not
// called back again.
thread_local int t_callbackDepth = 0;

// An event that reports a plain change of the device set.
constexpr int32_t kChangeEvent = 1;
} // namespace

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
    delivering_ = 0;
}

void FakeLibrary::Reset() {
    StopEventThread();
    std::lock_guard<std::mutex> lock(mutex_);
    behaviour_ = 0;
    devices_.clear();
    enumResult_.reset();
    enumDelay_ = std::chrono::microseconds(0);
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
    lastImage_.clear();
    imagesChanged_ = 0;
    eventResults_.clear();
    reportsInsideCalls_ = 0;
}

void FakeLibrary::SetBehaviour(unsigned behaviour) {
    std::lock_guard<std::mutex> lock(mutex_);
    behaviour_ = behaviour;
}

bool FakeLibrary::Has(LibraryBehaviour behaviour) {
    std::lock_guard<std::mutex> lock(mutex_);
    return (behaviour_ & behaviour) != 0;
}

void FakeLibrary::SetEnumDelay(std::chrono::microseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    enumDelay_ = delay;
}

std::vector<uint8_t> FakeLibrary::LastImage() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastImage_;
}

size_t FakeLibrary::ImagesChangedDuringWrite() {
    std::lock_guard<std::mutex> lock(mutex_);
    return imagesChanged_;
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
    if (Has(kCallsBackInsideCalls) && t_callbackDepth == 0) {
        DeliverQueuedEvents();
        uint32_t attached;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            attached = uint32_t(std::min<size_t>(devices_.size(), 16));
            ++reportsInsideCalls_;
        }
        FireEvent(kChangeEvent, (1u << attached) - 1, attached);
    }
    std::function<void()> hook;
    std::chrono::microseconds delay;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = onEnum_;
        delay = enumDelay_;
    }
    if (hook)
        hook();
    // The scan, then the records copied under the library's lock.
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    std::unique_lock<std::recursive_mutex> library(libraryLock_, std::defer_lock);
    if (Has(kCallsBackUnderLock))
        library.lock();
    std::lock_guard<std::mutex> lock(mutex_);
    ++enumCalls_;
    uint32_t written = std::min<uint32_t>(uint32_t(devices_.size()), maxCount);
    std::copy_n(devices_.begin(), written, devices);
    return enumResult_ ? *enumResult_ : int32_t(written);
}

int32_t FakeLibrary::SetOption(IspOption* option) {
    std::unique_lock<std::recursive_mutex> library(libraryLock_, std::defer_lock);
    if (Has(kCallsBackUnderLock))
        library.lock();
    int32_t result;
    uint32_t attached;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        registrations_.push_back(*option);
        if (modeOnRegister_)
            IspPutU32(*option, isp_option::kMode, uint32_t(*modeOnRegister_));
        if (optionResult_ != 0)
            callbackField_ = IspGetU32(*option, isp_option::kCallback);
        result = optionResult_;
        attached = uint32_t(std::min<size_t>(devices_.size(), 16));
    }
    // Reports the devices already attached, before the call returns.
    if (result != 0 && attached != 0 && Has(kCallsBackInsideCalls) && t_callbackDepth == 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++reportsInsideCalls_;
        }
        FireEvent(kIspEventArrival, (1u << attached) - 1, attached);
    }
    return result;
}

int32_t FakeLibrary::Flash(uint32_t deviceId, const uint8_t* image, uint32_t length, int32_t a4,
                           int32_t a5, int32_t a6, int32_t a7) {
    std::function<void(uint32_t)> hook;
    std::chrono::microseconds delay;
    const std::vector<uint8_t> atStart(image, image + length);
    {
        // The library's lock for the bookkeeping only, not for the write.
        std::unique_lock<std::recursive_mutex> library(libraryLock_, std::defer_lock);
        if (Has(kCallsBackUnderLock))
            library.lock();
        std::lock_guard<std::mutex> lock(mutex_);
        FlashCall call{deviceId, length, {a4, a5, a6, a7}, {}};
        if (keepImages_)
            call.image = atStart;
        flashCalls_.push_back(std::move(call));
        hook = onFlash_;
        delay = flashDelay_;
    }
    if (hook)
        hook(deviceId);
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    const bool changed = !std::equal(atStart.begin(), atStart.end(), image);
    std::unique_lock<std::recursive_mutex> library(libraryLock_, std::defer_lock);
    if (Has(kCallsBackUnderLock))
        library.lock();
    std::lock_guard<std::mutex> lock(mutex_);
    imagesChanged_ += changed ? 1 : 0;
    lastImage_ = atStart;
    return flashResult_;
}

int32_t FakeLibrary::FireEvent(int32_t event, uint32_t mask, uint32_t count) {
    uint32_t field;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        field = callbackField_;
    }
    DeviceEventCallback callback = IspDecodeCallback(field);
    ++t_callbackDepth;
    int32_t result = callback ? callback(event, mask, count) : -1;
    --t_callbackDepth;
    std::lock_guard<std::mutex> lock(mutex_);
    eventResults_.push_back(result);
    return result;
}

std::vector<int32_t> FakeLibrary::EventResults() {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventResults_;
}

int FakeLibrary::ReportsInsideCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reportsInsideCalls_;
}

void FakeLibrary::FireEventAsync(int32_t event, uint32_t mask, uint32_t count) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!eventThread_.joinable())
        eventThread_ = std::thread(&FakeLibrary::EventLoop, this);
    events_.push_back({event, mask, count});
    eventWake_.notify_all();
}

void FakeLibrary::WaitEvents(size_t backlog) {
    std::unique_lock<std::mutex> lock(eventMutex_);
    eventIdle_.wait(lock,
                    [this, backlog] { return events_.size() + size_t(delivering_) <= backlog; });
}

size_t FakeLibrary::EventsNotDelivered() {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return events_.size() + size_t(delivering_);
}

void FakeLibrary::DeliverQueuedEvents() {
    std::deque<Event> taken;
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        taken.swap(events_);
        delivering_ += int(taken.size());
    }
    for (const Event& event : taken) {
        FireEvent(event.event, event.mask, event.count);
        std::lock_guard<std::mutex> lock(eventMutex_);
        --delivering_;
        eventIdle_.notify_all();
    }
}

void FakeLibrary::EventLoop() {
    std::unique_lock<std::mutex> lock(eventMutex_);
    for (;;) {
        eventWake_.wait(lock, [this] { return stopping_ || !events_.empty(); });
        if (stopping_)
            break;
        Event event = events_.front();
        events_.pop_front();
        ++delivering_;
        lock.unlock();
        {
            std::unique_lock<std::recursive_mutex> library(libraryLock_, std::defer_lock);
            if (Has(kCallsBackUnderLock))
                library.lock();
            FireEvent(event.event, event.mask, event.count);
        }
        lock.lock();
        --delivering_;
        eventIdle_.notify_all();
    }
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
