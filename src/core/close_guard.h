// Closing the tool while a configuration run writes would leave the
// programmer with a half-written flash. The dialog asks here before it
// closes; a run asks here before it writes. One leaf lock decides both, so no
// write can start between the decision to close and the window's end.
#pragma once

// The command the dialog gets for Escape, the close box and Alt+F4 (the
// dialog manager's IDCANCEL). The core posts it to close the dialog once the
// last write has ended.
constexpr int kCloseCommandId = 2;

// The user asked to close. True: close now, no write runs. False: a write
// runs and the tool closes by itself once it has ended and been reported;
// the first such request logs a line saying so, repeats add nothing. Either
// way no write starts from now on.
bool RequestClose();

// Windows asks whether the session may end: false while a write runs. Once
// it answered true, no write starts until the session end is called off.
bool MaySessionEnd();
void SessionEndCalledOff();

// A run passes here just before it writes; only Go lets it write. Once a
// close was requested the run ends without a trace; while the session may
// be ending it ends with a line, as the end may yet be called off.
enum class WriteGate { Go, Closing, SessionEnding };
WriteGate BeginWrite();
// The write's outcome has been reported. True when a close waited for it and
// no other write runs: the caller posts kCloseCommandId to the dialog.
bool EndWrite();

// A close has been decided: runs still queued end without reading the
// controls, logging or posting anything.
bool CloseDecided();
// Posts a click to the dialog unless a close has been decided. The post and
// the decision share the close lock, so no click lands on a closing dialog.
void PostClickUnlessClosing(int id);

#if CORE_TESTING
// A read-only view and a reset, for the tests only (not in the tool).
bool WriteInProgress();
void ResetCloseGuard();
#endif
