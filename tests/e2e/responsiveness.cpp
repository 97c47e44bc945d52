#include "responsiveness.h"

#include "dialog_remote.h"

#include <algorithm>

namespace {
constexpr UINT kProbeTimeoutMs = 2000;
} // namespace

LatencyFigures Summarise(std::vector<double> latencies, size_t timeouts) {
    LatencyFigures figures;
    figures.samples = latencies.size();
    figures.timeouts = timeouts;
    if (latencies.empty())
        return figures;
    std::sort(latencies.begin(), latencies.end());
    figures.maxMs = latencies.back();
    figures.medianMs = latencies[latencies.size() / 2];
    size_t p99 = (latencies.size() * 99 + 99) / 100; // nearest rank
    figures.p99Ms = latencies[std::min(latencies.size(), std::max<size_t>(p99, 1)) - 1];
    if (timeouts > 0)
        figures.maxMs = std::max(figures.maxMs, double(kProbeTimeoutMs));
    return figures;
}

bool ResponsivenessProbe::Start() {
    stop_ = false;
    latencies_.clear();
    timeouts_ = 0;
    latencies_.reserve(8192);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    return thread_ != nullptr;
}

LatencyFigures ResponsivenessProbe::Stop() {
    if (thread_ == nullptr)
        return figures_;
    stop_ = true;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    figures_ = Summarise(latencies_, timeouts_);
    return figures_;
}

DWORD WINAPI ResponsivenessProbe::Run(void* self) {
    auto* probe = static_cast<ResponsivenessProbe*>(self);
    while (!probe->stop_) {
        double latency = PingMs(probe->dialog_, kProbeTimeoutMs);
        if (latency < 0)
            ++probe->timeouts_;
        else
            probe->latencies_.push_back(latency);
        Sleep(probe->intervalMs_);
    }
    return 0;
}
