#include "tool_process.h"

#include "text_util.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty())
        return name;
    wchar_t last = folder.back();
    if (last == L'\\' || last == L'/')
        return folder + name;
    return folder + L"\\" + name;
}

std::wstring FolderOfThisProgram() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    size_t slash = text.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : text.substr(0, slash);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolders(const std::wstring& path) {
    if (path.empty())
        return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 2)
        MakeFolders(path.substr(0, slash));
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str()) != 0;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(JoinPath(path, L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(JoinPath(path, name));
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) != 0;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    // The simulator keeps its log open for writing: share everything.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool PrepareFolder(const std::wstring& folder, const std::wstring& sourceFolder,
                   const wchar_t* const* names, size_t count, std::wstring& error) {
    if (!RemoveTree(folder)) {
        error = L"cannot empty " + folder;
        return false;
    }
    if (!MakeFolders(folder)) {
        error = L"cannot create " + folder;
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        std::wstring from = JoinPath(sourceFolder, names[i]);
        if (!CopyFileW(from.c_str(), JoinPath(folder, names[i]).c_str(), FALSE)) {
            error = L"cannot copy " + from;
            return false;
        }
    }
    return true;
}

namespace {
// This process's environment without TAMLASIM_DIR, plus the new value.
std::vector<wchar_t> ChildEnvironment(const std::wstring& simDir) {
    std::vector<wchar_t> block;
    wchar_t* environment = GetEnvironmentStringsW();
    for (const wchar_t* p = environment; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TAMLASIM_DIR=", 13) == 0)
            continue;
        block.insert(block.end(), p, p + wcslen(p) + 1);
    }
    if (environment != nullptr)
        FreeEnvironmentStringsW(environment);
    if (!simDir.empty()) {
        std::wstring entry = L"TAMLASIM_DIR=" + simDir;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

struct FindState {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialogWindow(HWND window, LPARAM parameter) {
    FindState* state = reinterpret_cast<FindState*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != state->processId)
        return TRUE;
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) > 0 && wcscmp(name, L"#32770") == 0) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND DialogOfProcess(DWORD processId) {
    FindState state{processId, nullptr};
    EnumWindows(FindDialogWindow, reinterpret_cast<LPARAM>(&state));
    return state.found;
}
} // namespace

bool LaunchProgram(const std::wstring& exePath, const std::wstring& simDir, ToolProcess& process,
                   std::wstring& error) {
    std::vector<wchar_t> environment = ChildEnvironment(simDir);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    std::wstring folder = exePath.substr(0, exePath.find_last_of(L"\\/"));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    process = ToolProcess{};
    process.launchedAtMs = NowMs();
    if (!CreateProcessW(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), folder.c_str(), &startup,
                        &process.info)) {
        error = Format(L"CreateProcess(%ls) failed, error %lu", exePath.c_str(), GetLastError());
        return false;
    }
    return true;
}

bool WaitForDialog(ToolProcess& process, DWORD timeoutMs, std::wstring& error) {
    double deadline = NowMs() + timeoutMs;
    while (process.dialog == nullptr) {
        process.dialog = DialogOfProcess(process.info.dwProcessId);
        if (process.dialog != nullptr) {
            process.foundAtMs = NowMs();
            break;
        }
        if (!IsRunning(process)) {
            DWORD code = 0;
            GetExitCodeProcess(process.info.hProcess, &code);
            error = Format(L"the process ended (exit code 0x%08lX) before showing a dialog", code);
            return false;
        }
        if (NowMs() > deadline) {
            error = Format(L"no #32770 window of process %lu within %lu ms",
                           process.info.dwProcessId, timeoutMs);
            return false;
        }
        Sleep(2);
    }
    // A window that exists is not ready yet: its controls come with the
    // visible state.
    while (!IsWindowVisible(process.dialog)) {
        if (NowMs() > deadline || !IsRunning(process)) {
            error = Format(L"dialog found but not visible within %lu ms", timeoutMs);
            return false;
        }
        Sleep(2);
    }
    process.visibleAtMs = NowMs();
    return true;
}

HWND FindDialogOfImage(const wchar_t* exeName, DWORD* processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    HWND found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == nullptr;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) != 0)
            continue;
        found = DialogOfProcess(entry.th32ProcessID);
        if (found != nullptr && processId != nullptr)
            *processId = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

bool WaitForExit(ToolProcess& process, DWORD timeoutMs) {
    return WaitForSingleObject(process.info.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool IsRunning(const ToolProcess& process) {
    return process.info.hProcess != nullptr &&
           WaitForSingleObject(process.info.hProcess, 0) == WAIT_TIMEOUT;
}

void KillProcess(ToolProcess& process) {
    if (IsRunning(process)) {
        TerminateProcess(process.info.hProcess, 99);
        WaitForSingleObject(process.info.hProcess, 5000);
    }
}

void CloseProcessHandles(ToolProcess& process) {
    if (process.info.hThread != nullptr)
        CloseHandle(process.info.hThread);
    if (process.info.hProcess != nullptr)
        CloseHandle(process.info.hProcess);
    process.info = PROCESS_INFORMATION{};
}

bool MainModuleRange(const ToolProcess& process, uint64_t& base, uint32_t& size) {
    HMODULE modules[64];
    DWORD needed = 0;
    if (!K32EnumProcessModules(process.info.hProcess, modules, sizeof(modules), &needed) ||
        needed < sizeof(HMODULE))
        return false;
    MODULEINFO info{};
    if (!K32GetModuleInformation(process.info.hProcess, modules[0], &info, sizeof(info)))
        return false;
    base = uint64_t(reinterpret_cast<uintptr_t>(info.lpBaseOfDll));
    size = info.SizeOfImage;
    return true;
}

bool RvaIsExecutable(const std::wstring& exePath, uint32_t rva) {
    std::string file;
    if (!ReadWholeFile(exePath, file) || file.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE ||
        size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > file.size())
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (reinterpret_cast<const char*>(section + 1) > file.data() + file.size())
            return false;
        uint32_t extent =
            section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + extent)
            return (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0;
    }
    return false;
}
