// In-memory dialog for the native tests: keeps each control's state and
// records every operation in order.
//
// By default every operation runs on the caller's thread. In dialog-thread
// mode the fake behaves like the real dialog's thread: every operation runs
// on one "dialog thread" and blocks the caller until it is done, as a sent
// message does (on the dialog thread itself it runs directly); posted clicks
// and posted work run there later, one at a time, after any operation that
// is waiting, as the message loop takes them.
#pragma once

#include "dialog_access.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeDialog final : public DialogAccess {
public:
    struct Control {
        std::string text;
        bool checked = false;
        bool enabled = true;
        std::vector<std::string> entries;
        int selection = -1;
    };

    FakeDialog() = default;
    ~FakeDialog();
    FakeDialog(const FakeDialog&) = delete;
    FakeDialog& operator=(const FakeDialog&) = delete;

    bool IsChecked(int id) override;
    uint32_t ReadUnsigned(int id) override;
    int GetSelection(int id) override;
    void SetText(int id, const char* text) override;
    void Enable(int id, bool enabled) override;
    void ClearList(int id) override;
    void AddEntry(int id, const char* text) override;
    void SelectEntry(int id, int index) override;
    void AppendText(int id, const char* text) override;
    // Recorded; in dialog-thread mode the button's command is queued for the
    // dialog thread.
    void PostClick(int id) override;

    // Test side: set up and inspect controls (not recorded as operations).
    void SetChecked(int id, bool checked);
    void Type(int id, const std::string& text);
    void Choose(int id, int index);
    Control Get(int id);
    std::vector<std::string> Operations();
    void ClearOperations();
    std::vector<int> PostedClicks();
    // Log box text split after each "\r\n".
    std::vector<std::string> LogLines();

    // Dialog-thread mode, from now until the fake is destroyed.
    void StartDialogThread();
    // Queues work for the dialog thread, as a posted message: returns at once.
    // What names it in DialogThreadActivity().
    void Post(std::function<void()> work, std::string what = "posted work");
    // While held, the clicks the core posts are parked (recorded, not run);
    // released, they are queued in order. Operations are served throughout.
    void HoldPostedClicks(bool hold);
    // Until the dialog thread is idle: nothing being done, nothing waiting.
    void WaitIdle();
    // Posted work items so far; lets a test see whether anything new came.
    uint64_t PostedCount();
    // The dialog thread is busy with this (empty when idle); for watchdogs.
    std::string DialogThreadActivity();

private:
    struct Sent {
        std::function<void()> work;
        bool done = false;
    };

    void Record(std::string operation);
    template <typename Operation> auto Send(Operation operation);
    void RunOnDialogThread(const std::function<void()>& operation);
    void RunPostedClick(int id);
    void DialogLoop();

    std::mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<std::string> operations_;
    std::vector<int> posted_;

    // The dialog thread's queues, under threadMutex_ (never held while work
    // runs, and never taken while mutex_ is held).
    std::mutex threadMutex_;
    std::condition_variable wake_;
    std::condition_variable changed_;
    std::deque<Sent*> sent_;
    struct Posted {
        std::function<void()> work;
        std::string what;
    };
    std::deque<Posted> postedWork_;
    std::string activity_;
    bool holdClicks_ = false;
    std::vector<int> heldClicks_;
    bool stopping_ = false;
    uint64_t postedCount_ = 0;
    std::thread thread_;
    std::atomic<bool> threaded_{false};
    std::atomic<std::thread::id> threadId_{};
};
