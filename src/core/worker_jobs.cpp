#include "worker_jobs.h"

#include "device_coordination.h"
#include "log.h"

uint32_t RunWorkerJob(WorkerJob job, uint32_t argument) {
    switch (job) {
    case WorkerJob::Configure:
        // The press queued its device; the argument only names its entry.
        static_cast<void>(argument);
        RunQueuedWork();
        return 0;
    case WorkerJob::Refresh:
        return RefreshDeviceList();
    }
    return 0;
}

void StartSearchWorker() {
    if (!StartWorkerThread(WorkerJob::Refresh, 0))
        LogPrintf("Cannot start a thread to search for devices");
}
