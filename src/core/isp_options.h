// Registration of the option record, with the device event callback.
#pragma once

#include "isp_api.h"

// The record as the tool builds it before registration.
IspOption BuildIspOption(bool serialNoKey);

// Builds and registers the record, keeps the accepted copy in CurrentOption
// (zero after a refusal) and recomputes AutoDownload. Returns 1 when the
// library accepted it, else 0. Runs on the dialog's thread.
int32_t ApplyIspOptions();
