#include "fake_dialog.h"

#include "dialog_commands.h"

#include <type_traits>

FakeDialog::~FakeDialog() {
    if (!threaded_.load())
        return;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void FakeDialog::Record(std::string operation) { operations_.push_back(std::move(operation)); }

void FakeDialog::RunOnDialogThread(const std::function<void()>& operation) {
    Sent item{operation};
    std::unique_lock<std::mutex> lock(threadMutex_);
    sent_.push_back(&item);
    wake_.notify_all();
    changed_.wait(lock, [&item] { return item.done; });
}

// Runs an operation on the controls as a sent message would, and gives its
// result.
template <typename Operation> auto FakeDialog::Send(Operation operation) {
    auto locked = [this, &operation] {
        std::lock_guard<std::mutex> lock(mutex_);
        return operation();
    };
    if (!threaded_.load() || std::this_thread::get_id() == threadId_.load())
        return locked();
    if constexpr (std::is_void_v<decltype(operation())>) {
        RunOnDialogThread(locked);
    } else {
        decltype(operation()) result{};
        RunOnDialogThread([&] { result = locked(); });
        return result;
    }
}

bool FakeDialog::IsChecked(int id) {
    return Send([&] {
        Record("IsChecked " + std::to_string(id));
        return controls_[id].checked;
    });
}

uint32_t FakeDialog::ReadUnsigned(int id) {
    return Send([&] {
        Record("ReadUnsigned " + std::to_string(id));
        return ParseUnsignedText(controls_[id].text.c_str());
    });
}

int FakeDialog::GetSelection(int id) {
    return Send([&] {
        Record("GetSelection " + std::to_string(id));
        return controls_[id].selection;
    });
}

void FakeDialog::SetText(int id, const char* text) {
    Send([&] {
        Record("SetText " + std::to_string(id) + " " + text);
        controls_[id].text = text;
    });
}

void FakeDialog::Enable(int id, bool enabled) {
    Send([&] {
        Record(std::string(enabled ? "Enable " : "Disable ") + std::to_string(id));
        controls_[id].enabled = enabled;
    });
}

void FakeDialog::ClearList(int id) {
    Send([&] {
        Record("ClearList " + std::to_string(id));
        controls_[id].entries.clear();
        controls_[id].selection = -1;
    });
}

void FakeDialog::AddEntry(int id, const char* text) {
    Send([&] {
        Record("AddEntry " + std::to_string(id) + " " + text);
        controls_[id].entries.emplace_back(text);
    });
}

void FakeDialog::SelectEntry(int id, int index) {
    Send([&] {
        Record("SelectEntry " + std::to_string(id) + " " + std::to_string(index));
        Control& control = controls_[id];
        // As a combo box does: an index outside the list selects nothing.
        control.selection = index >= 0 && size_t(index) < control.entries.size() ? index : -1;
    });
}

void FakeDialog::AppendText(int id, const char* text) {
    Send([&] {
        Record("AppendText " + std::to_string(id) + " " + text);
        controls_[id].text += text;
    });
}

void FakeDialog::PostClick(int id) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Record("PostClick " + std::to_string(id));
        posted_.push_back(id);
    }
    if (!threaded_.load())
        return;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (holdClicks_) {
            heldClicks_.push_back(id);
            return;
        }
    }
    Post([this, id] { RunPostedClick(id); }, "the posted click of " + std::to_string(id));
}

// What the front end does with a command that reaches the dialog.
void FakeDialog::RunPostedClick(int id) { HandleDialogCommand(id, 0); }

void FakeDialog::SetChecked(int id, bool checked) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].checked = checked;
}

void FakeDialog::Type(int id, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].text = text;
}

void FakeDialog::Choose(int id, int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].selection = index;
}

FakeDialog::Control FakeDialog::Get(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_[id];
}

std::vector<std::string> FakeDialog::Operations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return operations_;
}

void FakeDialog::ClearOperations() {
    std::lock_guard<std::mutex> lock(mutex_);
    operations_.clear();
    posted_.clear();
}

std::vector<int> FakeDialog::PostedClicks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
}

std::vector<std::string> FakeDialog::LogLines() {
    std::string text = Get(1009).text;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

void FakeDialog::StartDialogThread() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (threaded_.load())
        return;
    thread_ = std::thread([this] { DialogLoop(); });
    threadId_ = thread_.get_id();
    threaded_ = true;
}

void FakeDialog::Post(std::function<void()> work, std::string what) {
    std::lock_guard<std::mutex> lock(threadMutex_);
    postedWork_.push_back({std::move(work), std::move(what)});
    ++postedCount_;
    wake_.notify_all();
}

void FakeDialog::HoldPostedClicks(bool hold) {
    std::vector<int> released;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        holdClicks_ = hold;
        if (!hold)
            released.swap(heldClicks_);
    }
    for (int id : released)
        Post([this, id] { RunPostedClick(id); }, "the posted click of " + std::to_string(id));
}

void FakeDialog::WaitIdle() {
    std::unique_lock<std::mutex> lock(threadMutex_);
    changed_.wait(lock,
                  [this] { return activity_.empty() && sent_.empty() && postedWork_.empty(); });
}

uint64_t FakeDialog::PostedCount() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    return postedCount_;
}

std::string FakeDialog::DialogThreadActivity() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    return activity_;
}

void FakeDialog::DialogLoop() {
    std::unique_lock<std::mutex> lock(threadMutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !sent_.empty() || !postedWork_.empty(); });
        // Work still posted when the fake goes is dropped, as messages are
        // when a window is destroyed.
        if (stopping_ && sent_.empty())
            return;
        // Sent operations first, as the message loop dispatches them before
        // it takes the next posted message.
        if (!sent_.empty()) {
            Sent* item = sent_.front();
            sent_.pop_front();
            activity_ = "a sent operation";
            lock.unlock();
            item->work();
            lock.lock();
            item->done = true;
        } else {
            Posted posted = std::move(postedWork_.front());
            postedWork_.pop_front();
            activity_ = posted.what;
            lock.unlock();
            posted.work();
            lock.lock();
        }
        activity_.clear();
        changed_.notify_all();
    }
}
