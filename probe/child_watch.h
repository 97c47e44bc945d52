// The parent's side of the child: starts it on the shared record and watches
// it to its end. It takes up the child's lines as they come, gives each
// call and each phase a time-out, and turns whatever ends the child early
// (a crash, a fail-fast, an exit, a stack overflow, a hang, Ctrl+C) into
// the run's stop cause. Ctrl+C during the watch ends only the watch.
#pragma once

#include "probe_report.h"
#include "probe_run.h"

// Catches Ctrl+C, Ctrl+Break and the console's close from now on.
void CatchConsoleBreak();

// Runs the child on the record behind mapping, an inheritable handle, and
// returns once it has ended; Run() then holds what it found and why it
// stopped, if it did.
void RunChild(void* mapping);

// The stop cause and its kind; a fault marks the library as the cause.
void StopRun(StopKind kind, Fault fault, const char* format, ...) PROBE_PRINTF(3, 4);
