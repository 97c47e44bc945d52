// What the dialog's commands do, apart from the window plumbing. Runs on the
// dialog's thread.
#pragma once

// Handles a WM_COMMAND by control id and notification code. Returns false
// for a command the tool does not handle (the caller gives it to default
// processing). Closing the dialog is the front end's own affair.
bool HandleDialogCommand(int id, int notification);

// The notification codes of the device list that show the device's info.
constexpr int kListSelectionChanged = 1;
constexpr int kListFocusGained = 3;
