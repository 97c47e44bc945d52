// The long operations the dialog hands to worker threads. The core decides
// what a job does; the platform only starts a thread that runs it.
#pragma once

#include "platform.h"

#include <cstdint>

// The body of a worker thread: runs the job with its one argument (the
// device index of a press, whose device is already queued, or 0 for a
// search) and returns the job's result.
uint32_t RunWorkerJob(WorkerJob job, uint32_t argument);

// Starts a worker thread that searches; logs a line when none could start.
void StartSearchWorker();
