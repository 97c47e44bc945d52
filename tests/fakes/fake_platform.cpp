#include "fake_platform.h"

#include "core_mutex.h"
#include "worker_jobs.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {
std::mutex g_mutex;
std::vector<uint8_t> g_payload;
bool g_payloadMissing = false;
std::function<void()> g_onPayloadLoad;
std::vector<std::string> g_debug;
bool g_echo = true;
bool g_runWorkers = false;
bool g_threadsFail = false;
std::vector<fake_platform::WorkerStart> g_starts;
std::vector<std::thread> g_threads;
} // namespace

bool LoadFirmwarePayload(const uint8_t** data, uint32_t* size) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_onPayloadLoad;
    }
    if (hook)
        hook();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_payloadMissing)
        return false;
    *data = g_payload.data();
    *size = uint32_t(g_payload.size());
    return true;
}

void WriteDebugOutput(const char* text) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_debug.emplace_back(text);
    if (g_echo)
        std::fputs(text, stderr);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

void CoreMutex::lock() { mutex_.lock(); }

void CoreMutex::unlock() { mutex_.unlock(); }

bool StartWorkerThread(uint32_t argument) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_threadsFail)
        return false;
    g_starts.push_back({argument});
    if (g_runWorkers)
        g_threads.emplace_back([argument] { RunWorkerJob(argument); });
    return true;
}

namespace fake_platform {
void SetPayload(std::vector<uint8_t> payload) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_payload = std::move(payload);
    g_payloadMissing = false;
}

void SetOnPayloadLoad(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_onPayloadLoad = std::move(hook);
}

void SetPayloadMissing() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_payload.clear();
    g_payloadMissing = true;
}

std::vector<uint8_t> BuildPayload() {
    std::ifstream file(FIRMWARE_BIN_PATH, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> DebugOutput() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_debug;
}

void SetEchoDebugOutput(bool echo) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_echo = echo;
}

void SetRunWorkers(bool run) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_runWorkers = run;
}

void SetThreadsFail(bool fail) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_threadsFail = fail;
}

std::vector<WorkerStart> WorkerStarts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_starts;
}

void JoinWorkers() {
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            threads.swap(g_threads);
        }
        if (threads.empty())
            return;
        for (std::thread& thread : threads)
            thread.join();
    }
}

void Reset() {
    JoinWorkers();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_payload.clear();
    g_payloadMissing = false;
    g_onPayloadLoad = nullptr;
    g_debug.clear();
    g_echo = true;
    g_runWorkers = false;
    g_threadsFail = false;
    g_starts.clear();
}
} // namespace fake_platform
