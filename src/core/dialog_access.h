// The only way the device logic and the log touch the dialog: operations on
// a control of the main dialog, named by its id. The Windows build acts on
// the real dialog; the native tests use an in-memory fake.
//
// Every operation but PostClick takes effect on the dialog's thread before it
// returns, so a caller on another thread must never hold a lock that the
// dialog's thread may wait for.
#pragma once

#include <cstdint>

class DialogAccess {
public:
    virtual bool IsChecked(int id) = 0;
    // The control's text read as an unsigned decimal (ParseUnsignedText).
    virtual uint32_t ReadUnsigned(int id) = 0;
    // Selected entry of a list, -1 for none.
    virtual int GetSelection(int id) = 0;
    virtual void SetText(int id, const char* text) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual void ClearList(int id) = 0;
    virtual void AddEntry(int id, const char* text) = 0;
    virtual void SelectEntry(int id, int index) = 0;
    // Moves the edit's selection to the end, replaces it with text (not
    // undoable) and moves the selection to the end again.
    virtual void AppendText(int id, const char* text) = 0;
    // Posted, not sent: returns at once and the dialog's thread runs the
    // button's command later.
    virtual void PostClick(int id) = 0;

protected:
    ~DialogAccess() = default;
};

// The dialog the operations act on; set once by the front end at start-up.
void SetDialogAccess(DialogAccess* dialog);
DialogAccess& Dialog();

// Reading of a control's text as an unsigned number, the same on every
// platform: leading blanks skipped, decimal digits up to the first other
// character; empty text, a first non-blank that is not a digit, or a value
// beyond 32 bits reads 0. No sign is accepted.
uint32_t ParseUnsignedText(const char* text);
