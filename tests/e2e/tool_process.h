// Starting the tool (or any dialog program) from a fresh folder, finding its
// dialog, and ending it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct ToolProcess {
    PROCESS_INFORMATION info{};
    HWND dialog = nullptr;
    double launchedAtMs = 0; // just before CreateProcess
    double foundAtMs = 0;    // top-level dialog first seen
    double visibleAtMs = 0;  // dialog visible
};

// Path helpers.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
std::wstring FolderOfThisProgram();
// The absolute form of a path given relative to the current folder (the tool
// and the library run elsewhere); the path itself when that fails.
std::wstring FullPath(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool MakeFolders(const std::wstring& path);
// Deletes a folder tree; true when it is gone afterwards.
bool RemoveTree(const std::wstring& path);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

// Creates folder (emptied first) and copies the named files of sourceFolder
// into it. On failure, error says what went wrong.
bool PrepareFolder(const std::wstring& folder, const std::wstring& sourceFolder,
                   const wchar_t* const* names, size_t count, std::wstring& error);

// Starts exePath with TAMLASIM_DIR=simDir added to this process's
// environment (empty simDir: variable removed), working folder = the exe's.
bool LaunchProgram(const std::wstring& exePath, const std::wstring& simDir, ToolProcess& process,
                   std::wstring& error);

// Waits for the process's top-level "#32770" window, then for it to be
// visible. False on time-out or when the process ended.
bool WaitForDialog(ToolProcess& process, DWORD timeoutMs, std::wstring& error);

// Top-level "#32770" window of any process running exeName (file name only).
HWND FindDialogOfImage(const wchar_t* exeName, DWORD* processId);

bool WaitForExit(ToolProcess& process, DWORD timeoutMs);
bool IsRunning(const ToolProcess& process);
// Ends a process the driver started and left running (after a failure).
void KillProcess(ToolProcess& process);
void CloseProcessHandles(ToolProcess& process);

// Load address and size of the process's main module.
bool MainModuleRange(const ToolProcess& process, uint64_t& base, uint32_t& size);
// True when rva lies in an executable section of the PE file exePath.
bool RvaIsExecutable(const std::wstring& exePath, uint32_t rva);
