// A hang in a concurrency test fails that test with a message naming it and
// what it was waiting for, long before the test runner's own time-out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
public:
    // state describes the threads when the limit passes.
    Watchdog(std::chrono::seconds limit, std::function<std::string()> state)
        : state_(std::move(state)) {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string(test->test_suite_name()) + "." + test->name();
        thread_ = std::thread([this, limit] { Watch(limit); });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // What the test waits for from now on.
    void Stage(std::string what) {
        std::lock_guard<std::mutex> lock(mutex_);
        stage_ = std::move(what);
    }

private:
    void Watch(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, limit, [this] { return done_; }))
            return;
        // The test's threads are stuck: nothing can end the test normally.
        std::fprintf(stderr, "\nWATCHDOG: %s did not finish within %lld s: %s did not end (%s)\n",
                     name_.c_str(), static_cast<long long>(limit.count()), stage_.c_str(),
                     state_ ? state_().c_str() : "");
        std::fflush(stderr);
        std::_Exit(1);
    }

    std::string name_;
    std::function<std::string()> state_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string stage_ = "the set-up";
    bool done_ = false;
    std::thread thread_;
};
