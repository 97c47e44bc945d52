#include "worker_jobs.h"

#include "device_coordination.h"

uint32_t RunWorkerJob(uint32_t argument) {
    static_cast<void>(argument);
    RunQueuedWork();
    return 0;
}
