#include "worker_jobs.h"

#include "config_run.h"
#include "device_discovery.h"
#include "log.h"

uint32_t RunWorkerJob(WorkerJob job, uint32_t argument) {
    switch (job) {
    case WorkerJob::Configure:
        return ConfigureDevice(argument);
    case WorkerJob::Refresh:
        return RefreshDeviceList();
    }
    return 0;
}

void StartWorkerJob(WorkerJob job, uint32_t argument) {
    if (StartWorkerThread(job, argument))
        return;
    if (job == WorkerJob::Configure)
        LogPrintf("Cannot start a thread to configure device index(%d)",
                  static_cast<int>(argument));
    else
        LogPrintf("Cannot start a thread to search for devices");
}
