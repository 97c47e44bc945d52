// Win32 file helpers of the stand-in library.
#include "sim_files_win32.h"

#include <windows.h>

#include <algorithm>

namespace {

// Closes a file handle when it leaves scope.
struct FileHandle {
    HANDLE handle;
    explicit FileHandle(HANDLE h) : handle(h) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

} // namespace

std::wstring SimulatorFolder(void* module) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableW(L"TAMLASIM_DIR", buffer, MAX_PATH * 2);
    std::wstring folder;
    if (length > 0 && length < MAX_PATH * 2) {
        folder.assign(buffer, length);
    } else {
        length = GetModuleFileNameW(static_cast<HMODULE>(module), buffer, MAX_PATH * 2);
        if (length > 0 && length < MAX_PATH * 2)
            folder.assign(buffer, length);
        size_t slash = folder.find_last_of(L"\\/");
        folder.resize(slash == std::wstring::npos ? 0 : slash);
    }
    if (folder.empty())
        folder = L".";
    if (folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder;
}

bool EnsureFolder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
    contents.clear();
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    char chunk[4096];
    DWORD got = 0;
    // Scripts are small; a runaway file is cut off rather than read whole.
    while (contents.size() < (1u << 20) &&
           ReadFile(file.handle, chunk, sizeof chunk, &got, nullptr) && got > 0)
        contents.append(chunk, got);
    return true;
}

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    return size == 0 ||
           (WriteFile(file.handle, data, DWORD(size), &written, nullptr) && written == DWORD(size));
}

std::vector<std::wstring> ListCommandFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*.cmd").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        // The pattern can also match longer extensions through short names.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, L".cmd") == 0)
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string NarrowName(const std::wstring& name) {
    char buffer[MAX_PATH * 2];
    int length = WideCharToMultiByte(CP_ACP, 0, name.c_str(), int(name.size()), buffer,
                                     sizeof buffer, nullptr, nullptr);
    return std::string(buffer, length > 0 ? size_t(length) : 0);
}
