// In-memory dialog for the native tests: keeps each control's state and
// records every operation in order.
#pragma once

#include "dialog_access.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
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

    bool IsChecked(int id) override;
    uint32_t ReadUnsigned(int id) override;
    int GetSelection(int id) override;
    void SetText(int id, const char* text) override;
    void Enable(int id, bool enabled) override;
    void ClearList(int id) override;
    void AddEntry(int id, const char* text) override;
    void SelectEntry(int id, int index) override;
    void AppendText(int id, const char* text) override;
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

    // Called for every posted click, on the posting thread, after it is
    // recorded; lets a test stand in for the dialog's message loop.
    std::function<void(int id)> onPostClick;

private:
    void Record(std::string operation);

    std::mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<std::string> operations_;
    std::vector<int> posted_;
};
