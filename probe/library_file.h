// What the library's file says before it is loaded: size, SHA-256, the
// machine and kind in its PE header, its version resource and its export
// names, checked against the names the tool imports.
#pragma once

#include <cstddef>

// Reports the file at path (a full path) and fills Run's machine and export
// facts. False, with a one-line cause, when the file is no library this
// probe can load: missing, unreadable, not a DLL, truncated, or for another
// machine. What could be read is reported all the same.
bool InspectLibraryFile(const wchar_t* path, char* cause, size_t causeSize);
