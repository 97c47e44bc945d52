// Registration of the option record, with the device event callback.
#pragma once

#include "isp_api.h"

// Builds and registers the record, keeps the accepted copy in CurrentOption
// (zero after a refusal) and recomputes AutoDownload. Returns 1 when the
// library accepted it, else 0. Runs on the dialog's thread and writes
// nothing to the log: its callers do.
int32_t ApplyIspOptions();

// Whether the record can carry the event handler's address in its 4-byte
// field (an x64 build whose image lies above 4 GiB cannot): without it the
// library reports no plugging or unplugging.
bool DeviceEventsCanBeRegistered();
