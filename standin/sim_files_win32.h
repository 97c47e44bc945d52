// File work of the stand-in library: the simulator folder, whole-file reads,
// dumps and the listing of the command folder. Wide paths throughout, so a
// folder name outside the ANSI code page still works.
#pragma once

#include <string>
#include <vector>

// TAMLASIM_DIR if set, else the folder holding `module`; ends in a backslash.
std::wstring SimulatorFolder(void* module);

// Creates the folder if missing (one level); true when it exists afterwards.
bool EnsureFolder(const std::wstring& path);

bool ReadWholeFile(const std::wstring& path, std::string& contents);
bool WriteWholeFile(const std::wstring& path, const void* data, size_t size);

// Names (not paths) of the files `folder`\*.cmd, in name order.
std::vector<std::wstring> ListCommandFiles(const std::wstring& folder);

// Narrow form of a file name for the call log.
std::string NarrowName(const std::wstring& name);
