// The dialog access operations over the dialog manager's messages, acting on
// MainDialog. Sent messages run on the dialog's thread before they return;
// only PostClick is posted.
#pragma once

#include "dialog_access.h"

class Win32DialogAccess final : public DialogAccess {
public:
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
};
