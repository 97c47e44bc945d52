// The probe's child: started by the probe on the shared record, it loads the
// library and makes the calls a tool session makes, reporting each finding
// into the record as it goes. It never returns: it ends its process without
// the library's detach code, which a library stuck in a call or with
// threads of its own may never finish.
#pragma once

#include <cstdint>

// The option that starts the child, followed by the record's handle in hex.
constexpr const wchar_t* kChildOption = L"--child";

[[noreturn]] void RunChildSteps(const wchar_t* recordHandle);
