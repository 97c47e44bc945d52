#include "library_file.h"

#include "probe_report.h"
#include "probe_run.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {
constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;
#if defined(__i386__)
constexpr uint16_t kProbeMachine = kMachineX86;
#else
constexpr uint16_t kProbeMachine = kMachineX64;
#endif
constexpr uint16_t kImageFileDll = 0x2000;
constexpr size_t kMaxListedExports = 300;
constexpr size_t kVersionInfoSize = 64 * 1024;

// A handle closed when it goes out of scope.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

class MappedView {
public:
    explicit MappedView(const void* view) : view_(view) {}
    ~MappedView() {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;

private:
    const void* view_;
};

// The file's bytes with bounds-checked reads.
struct Image {
    const uint8_t* bytes;
    uint64_t size;

    bool Has(uint64_t offset, uint64_t count) const {
        return offset <= size && count <= size - offset;
    }
    uint16_t U16(uint64_t offset) const {
        return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
    }
    uint32_t U32(uint64_t offset) const {
        return static_cast<uint32_t>(bytes[offset]) |
               static_cast<uint32_t>(bytes[offset + 1]) << 8 |
               static_cast<uint32_t>(bytes[offset + 2]) << 16 |
               static_cast<uint32_t>(bytes[offset + 3]) << 24;
    }
};

struct PeHeader {
    uint16_t machine;
    uint16_t characteristics;
    uint64_t sections; // offset of the section table
    uint16_t sectionCount;
    uint32_t exportRva;
    uint64_t needed; // bytes the headers and sections need
};

const char* MachineName(uint16_t machine) {
    switch (machine) {
    case kMachineX86:
        return "32-bit x86";
    case kMachineX64:
        return "64-bit x64";
    case 0xAA64:
        return "ARM64";
    case 0x01C4:
        return "ARM";
    default:
        return "unknown";
    }
}

// Reads the PE header; a cause when there is none to read.
bool ReadPeHeader(const Image& image, PeHeader* pe, char* cause, size_t causeSize) {
    if (!image.Has(0, 64) || image.bytes[0] != 'M' || image.bytes[1] != 'Z') {
        std::snprintf(cause, causeSize, "not a Windows library: no MZ header");
        return false;
    }
    const uint32_t at = image.U32(0x3C);
    if (!image.Has(at, 24) || std::memcmp(image.bytes + at, "PE\0\0", 4) != 0) {
        std::snprintf(cause, causeSize,
                      image.Has(at, 4) ? "not a Windows library: no PE header"
                                       : "truncated: the file ends before its PE header");
        return false;
    }
    pe->machine = image.U16(at + 4);
    pe->sectionCount = image.U16(at + 6);
    const uint16_t optionalSize = image.U16(at + 20);
    pe->characteristics = image.U16(at + 22);
    const uint64_t optional = at + 24;
    pe->sections = optional + optionalSize;
    pe->exportRva = 0;
    pe->needed = pe->sections + uint64_t{40} * pe->sectionCount;
    if (image.Has(optional, 2)) {
        const bool plus = image.U16(optional) == 0x20B;
        const uint64_t count = optional + (plus ? 108 : 92);
        const uint64_t directory = optional + (plus ? 112 : 96);
        if (image.Has(count, 4) && image.U32(count) > 0 && image.Has(directory, 4))
            pe->exportRva = image.U32(directory);
    }
    if (image.Has(pe->sections, uint64_t{40} * pe->sectionCount)) {
        for (uint16_t i = 0; i < pe->sectionCount; ++i) {
            const uint64_t section = pe->sections + uint64_t{40} * i;
            const uint64_t end = uint64_t{image.U32(section + 20)} + image.U32(section + 16);
            if (image.U32(section + 16) != 0 && end > pe->needed)
                pe->needed = end;
        }
    }
    return true;
}

// The file offset of an RVA, or 0 when no section holds it.
uint64_t FileOffset(const Image& image, const PeHeader& pe, uint32_t rva) {
    for (uint16_t i = 0; i < pe.sectionCount; ++i) {
        const uint64_t section = pe.sections + uint64_t{40} * i;
        if (!image.Has(section, 40))
            return 0;
        const uint32_t virtualSize = image.U32(section + 8);
        const uint32_t address = image.U32(section + 12);
        const uint32_t rawSize = image.U32(section + 16);
        const uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva >= address && rva - address < span && rva - address < rawSize)
            return uint64_t{image.U32(section + 20)} + (rva - address);
    }
    return 0;
}

// A zero-terminated name inside the file, copied printable into buffer.
bool CopyName(const Image& image, uint64_t offset, char* buffer, size_t size) {
    size_t n = 0;
    for (; image.Has(offset + n, 1) && image.bytes[offset + n] != 0; ++n) {
        if (n + 1 < size) {
            const uint8_t c = image.bytes[offset + n];
            buffer[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
        }
    }
    buffer[n + 1 < size ? n : size - 1] = 0;
    return image.Has(offset + n, 1);
}

// The name the tool imports in another form: a leading underscore, a stdcall
// "@N" suffix, another case.
bool SameFunction(const char* exported, const char* wanted) {
    if (*exported == '_')
        ++exported;
    size_t length = std::strlen(exported);
    const char* at = std::strrchr(exported, '@');
    if (at != nullptr && at[1] != 0 && std::strspn(at + 1, "0123456789") == std::strlen(at + 1))
        length = static_cast<size_t>(at - exported);
    return length == std::strlen(wanted) && _strnicmp(exported, wanted, length) == 0;
}

void ReportExports(const Image& image, const PeHeader& pe) {
    const uint64_t directory = pe.exportRva == 0 ? 0 : FileOffset(image, pe, pe.exportRva);
    uint32_t count = 0;
    uint64_t names = 0;
    if (directory != 0 && image.Has(directory, 40)) {
        count = image.U32(directory + 24);
        names = FileOffset(image, pe, image.U32(directory + 32));
        if (names == 0 || !image.Has(names, uint64_t{4} * count))
            count = 0;
    }
    Run.exportsRead = true;
    Report("  exports            %u name(s)", static_cast<unsigned>(count));
    char line[1024] = "";
    size_t used = 0;
    for (uint32_t i = 0; i < count; ++i) {
        char name[256];
        const uint64_t at = FileOffset(image, pe, image.U32(names + uint64_t{4} * i));
        if (at == 0 || !CopyName(image, at, name, sizeof name))
            std::snprintf(name, sizeof name, "(name outside the file)");
        for (int k = 0; k < kImportCount; ++k) {
            if (std::strcmp(name, kImportNames[k]) == 0)
                Run.exactName[k] = true;
            else if (Run.foundAs[k][0] == 0 && SameFunction(name, kImportNames[k]))
                std::snprintf(Run.foundAs[k], sizeof Run.foundAs[k], "%s", name);
        }
        if (i >= kMaxListedExports)
            continue;
        // A few names per line, as they come in the table (sorted by name).
        if (used > 0 && used + std::strlen(name) + 2 > 96) {
            Report("    %s", line);
            used = 0;
        }
        used += static_cast<size_t>(
            std::snprintf(line + used, sizeof line - used, used == 0 ? "%s" : ", %s", name));
    }
    if (used > 0)
        Report("    %s", line);
    if (count > kMaxListedExports)
        Report("    (and %u more not listed)", static_cast<unsigned>(count - kMaxListedExports));
    for (int k = 0; k < kImportCount; ++k) {
        if (Run.exactName[k])
            Report("  %-19s exported under the exact name the tool imports", kImportNames[k]);
        else if (Run.foundAs[k][0] != 0)
            Report("  %-19s NOT exported under that name; found as \"%s\"", kImportNames[k],
                   Run.foundAs[k]);
        else
            Report("  %-19s NOT exported, in no form", kImportNames[k]);
    }
    bool all = true;
    for (bool exact : Run.exactName)
        all = all && exact;
    if (!all)
        Report("  the tool will not start with this library: Windows stops it for a missing "
               "entry point");
}

bool Sha256(const uint8_t* data, uint64_t size, uint8_t digest[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    constexpr uint64_t kChunk = 1 << 20;
    for (uint64_t done = 0; ok && done < size; done += kChunk) {
        const uint64_t part = size - done < kChunk ? size - done : kChunk;
        ok =
            BCryptHashData(hash, const_cast<PUCHAR>(data + done), static_cast<ULONG>(part), 0) == 0;
    }
    ok = ok && BCryptFinishHash(hash, digest, 32, 0) == 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

void ReportVersion(const wchar_t* path) {
    static uint8_t info[kVersionInfoSize];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        Report("  version resource   none");
        return;
    }
    if (size > sizeof info || !GetFileVersionInfoW(path, 0, sizeof info, info)) {
        Report("  version resource   present but not readable (%lu bytes)",
               static_cast<unsigned long>(size));
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info, L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof *fixed)
        Report("  version resource   file %u.%u.%u.%u, product %u.%u.%u.%u",
               HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
               HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
               HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    else
        Report("  version resource   no fixed version");
    struct Translation {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    if (!VerQueryValueW(info, L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &length) ||
        length < sizeof *translations)
        return;
    static const wchar_t* const kFields[] = {
        L"CompanyName",    L"FileDescription",  L"FileVersion",  L"ProductName",
        L"ProductVersion", L"OriginalFilename", L"InternalName", L"LegalCopyright"};
    for (const wchar_t* field : kFields) {
        wchar_t query[96];
        std::swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translations->language,
                      translations->codePage, field);
        wchar_t* value = nullptr;
        if (!VerQueryValueW(info, query, reinterpret_cast<void**>(&value), &length) || length == 0)
            continue;
        char name[32];
        char text[512];
        Utf8FromWide(name, sizeof name, field);
        Utf8FromWide(text, sizeof text, value);
        Report("    %-17s %s", name, text);
    }
}
} // namespace

const char* const kImportNames[kImportCount] = {"Tamla_EnumDevices", "Tamla_SetIspOption",
                                                "Tamla_FlashProgramB"};

bool InspectLibraryFile(const wchar_t* path, char* cause, size_t causeSize) {
    OwnedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            std::snprintf(cause, causeSize, "no library there: the file is missing");
        else
            std::snprintf(cause, causeSize, "the file cannot be opened (error %lu)",
                          static_cast<unsigned long>(error));
        return false;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    Report("  size               %lld bytes", static_cast<long long>(size.QuadPart));
    if (size.QuadPart == 0) {
        std::snprintf(cause, causeSize, "not a Windows library: the file is empty");
        return false;
    }
    OwnedHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view =
        mapping.valid() ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    MappedView unmap(view);
    if (view == nullptr) {
        std::snprintf(cause, causeSize, "the file cannot be read (error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const Image image{static_cast<const uint8_t*>(view), static_cast<uint64_t>(size.QuadPart)};
    uint8_t digest[32];
    char hex[72] = "";
    if (Sha256(image.bytes, image.size, digest)) {
        for (int i = 0; i < 32; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        Report("  SHA-256            %s", hex);
    } else {
        Report("  SHA-256            not available on this system");
    }

    PeHeader pe{};
    if (!ReadPeHeader(image, &pe, cause, causeSize))
        return false;
    Run.machineRead = true;
    Run.machineMatches = pe.machine == kProbeMachine;
    std::snprintf(Run.machineText, sizeof Run.machineText, "%s, 0x%04X", MachineName(pe.machine),
                  pe.machine);
    const bool dll = (pe.characteristics & kImageFileDll) != 0;
    Report("  machine            %s, %s", Run.machineText, dll ? "a DLL" : "NOT a DLL");
    ReportVersion(path);
    const bool truncated = pe.needed > image.size;
    if (!truncated)
        ReportExports(image, pe);
    if (truncated)
        std::snprintf(cause, causeSize,
                      "truncated: the file has %llu bytes, its sections need %llu",
                      static_cast<unsigned long long>(image.size),
                      static_cast<unsigned long long>(pe.needed));
    else if (!dll)
        std::snprintf(cause, causeSize, "not a library: the file is a program (no DLL flag)");
    else if (!Run.machineMatches)
        std::snprintf(cause, causeSize, "a library for %s: this %s probe cannot load it%s",
                      MachineName(pe.machine), MachineName(kProbeMachine),
                      kProbeMachine == kMachineX86 ? ", nor can the 32-bit tool" : "");
    else
        return true;
    return false;
}
