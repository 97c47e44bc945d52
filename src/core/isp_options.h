// Registration of the option record, with the device event callback.
#pragma once

#include "isp_api.h"

// Builds and registers the record, keeps the accepted copy in CurrentOption
// (zero after a refusal) and recomputes AutoDownload. Returns 1 when the
// library accepted it, else 0. Writes nothing to the log: its callers do.
// Only the thread at work on the library calls it (device_coordination.h).
int32_t ApplyIspOptions();

// One registration as the dialog's commands ask for it: logs the outcome,
// both ways or a refusal only, and once per process that device events are
// off. Makes no call once a close is decided.
void RegisterOptionsAndLog(bool logSuccess);

// Whether the record can carry the event handler's address in its 4-byte
// field (an x64 build whose image lies above 4 GiB cannot): without it the
// library reports no plugging or unplugging.
bool DeviceEventsCanBeRegistered();
