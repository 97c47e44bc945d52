// The option record as the tool registers it. One builder, shared by the
// tool and the library probe, so both hand the library the same bytes.
#pragma once

#include "isp_api.h"

// Zero but for the fixed fields, the serial key-free flag and the callback
// (its field 0 when the address does not fit 4 bytes).
IspOption BuildIspOption(bool serialNoKey, DeviceEventCallback callback);
