// How quickly the dialog's thread answers while the tool works: a thread of
// the driver sends WM_NULL every few milliseconds and keeps each round trip.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

struct LatencyFigures {
    size_t samples = 0;
    size_t timeouts = 0; // no answer within the probe's time-out
    double maxMs = 0;
    double p99Ms = 0;
    double medianMs = 0;
};

class ResponsivenessProbe {
public:
    ResponsivenessProbe(HWND dialog, unsigned intervalMs)
        : dialog_(dialog), intervalMs_(intervalMs) {}
    ~ResponsivenessProbe() { Stop(); }
    ResponsivenessProbe(const ResponsivenessProbe&) = delete;
    ResponsivenessProbe& operator=(const ResponsivenessProbe&) = delete;

    bool Start();
    LatencyFigures Stop();

private:
    static DWORD WINAPI Run(void* self);

    HWND dialog_;
    unsigned intervalMs_;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::vector<double> latencies_;
    size_t timeouts_ = 0;
    LatencyFigures figures_;
};

LatencyFigures Summarise(std::vector<double> latencies, size_t timeouts);
