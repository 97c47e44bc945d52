#include "fake_dialog.h"

void FakeDialog::Record(std::string operation) { operations_.push_back(std::move(operation)); }

bool FakeDialog::IsChecked(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("IsChecked " + std::to_string(id));
    return controls_[id].checked;
}

uint32_t FakeDialog::ReadUnsigned(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("ReadUnsigned " + std::to_string(id));
    return ParseUnsignedText(controls_[id].text.c_str());
}

int FakeDialog::GetSelection(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("GetSelection " + std::to_string(id));
    return controls_[id].selection;
}

void FakeDialog::SetText(int id, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("SetText " + std::to_string(id) + " " + text);
    controls_[id].text = text;
}

void FakeDialog::Enable(int id, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::string(enabled ? "Enable " : "Disable ") + std::to_string(id));
    controls_[id].enabled = enabled;
}

void FakeDialog::ClearList(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("ClearList " + std::to_string(id));
    controls_[id].entries.clear();
    controls_[id].selection = -1;
}

void FakeDialog::AddEntry(int id, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("AddEntry " + std::to_string(id) + " " + text);
    controls_[id].entries.emplace_back(text);
}

void FakeDialog::SelectEntry(int id, int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("SelectEntry " + std::to_string(id) + " " + std::to_string(index));
    Control& control = controls_[id];
    // As a combo box does: an index outside the list selects nothing.
    control.selection = index >= 0 && size_t(index) < control.entries.size() ? index : -1;
}

void FakeDialog::AppendText(int id, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("AppendText " + std::to_string(id) + " " + text);
    controls_[id].text += text;
}

void FakeDialog::PostClick(int id) {
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Record("PostClick " + std::to_string(id));
        posted_.push_back(id);
        hook = onPostClick;
    }
    if (hook)
        hook(id);
}

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
