#include "library_file.h"

#include "library_file_parse.h"
#include "probe_report.h"
#include "probe_run.h"
#include "win32_handles.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {
#if defined(__i386__)
constexpr uint16_t kProbeMachine = kMachineX86;
#else
constexpr uint16_t kProbeMachine = kMachineX64;
#endif
constexpr size_t kMaxListedExports = 300;

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

// The listing of the export names, a few per line, as they come in the
// table (sorted by name).
struct ExportListing {
    char line[1024];
    size_t used;
    uint32_t seen;
};

void OnExportName(void* context, const char* name, bool cut) {
    ExportListing& listing = *static_cast<ExportListing*>(context);
    char shown[kMaxExportNameLength + 32];
    if (name == nullptr)
        std::snprintf(shown, sizeof shown, "(name outside the file)");
    else
        std::snprintf(shown, sizeof shown, "%s%s", name, cut ? "... (cut)" : "");
    for (int k = 0; k < kImportCount && name != nullptr && !cut; ++k) {
        if (std::strcmp(name, kImportNames[k]) == 0)
            Run().exactName[k] = true;
        else if (Run().foundAs[k][0] == 0 && SameFunction(name, kImportNames[k]))
            std::snprintf(Run().foundAs[k], sizeof Run().foundAs[k], "%s", name);
    }
    if (listing.seen++ >= kMaxListedExports)
        return;
    if (listing.used > 0 && listing.used + std::strlen(shown) + 2 > 96) {
        Report("    %s", listing.line);
        listing.used = 0;
    }
    const int n = std::snprintf(listing.line + listing.used, sizeof listing.line - listing.used,
                                listing.used == 0 ? "%s" : ", %s", shown);
    listing.used += n < 0 ? 0 : static_cast<size_t>(n);
    if (listing.used >= sizeof listing.line)
        listing.used = sizeof listing.line - 1;
}

void ReportExports(const LibraryBytes& file, const PeFacts& pe) {
    static ExportListing listing;
    const ExportTable table = ReadExportNames(file, pe, OnExportName, &listing);
    Run().exportsRead = true;
    if (table.problem != nullptr)
        Report("  exports            none read: %s", table.problem);
    else
        Report("  exports            %u name(s)", static_cast<unsigned>(table.declared));
    if (listing.used > 0)
        Report("    %s", listing.line);
    if (table.read > kMaxListedExports)
        Report("    (and %u more not listed)",
               static_cast<unsigned>(table.read - kMaxListedExports));
    if (table.declared > table.read && table.problem == nullptr)
        Report("    (the %u after the first %u not read)",
               static_cast<unsigned>(table.declared - table.read),
               static_cast<unsigned>(table.read));
    for (int k = 0; k < kImportCount; ++k) {
        if (Run().exactName[k])
            Report("  %-19s exported under the exact name the tool imports", kImportNames[k]);
        else if (Run().foundAs[k][0] != 0)
            Report("  %-19s NOT exported under that name; found as \"%s\"", kImportNames[k],
                   Run().foundAs[k]);
        else
            Report("  %-19s NOT exported, in no form", kImportNames[k]);
    }
    bool all = true;
    for (bool exact : Run().exactName)
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

void ReportVersion(const LibraryBytes& file, const PeFacts& pe) {
    const VersionFacts version = ReadVersion(file, pe);
    if (!version.present) {
        Report("  version resource   none");
        return;
    }
    if (version.problem != nullptr)
        Report("  version resource   present but not readable: %s", version.problem);
    else if (version.fixed)
        Report("  version resource   file %u.%u.%u.%u, product %u.%u.%u.%u", version.file[0],
               version.file[1], version.file[2], version.file[3], version.product[0],
               version.product[1], version.product[2], version.product[3]);
    else
        Report("  version resource   no fixed version");
    for (size_t i = 0; i < version.textCount; ++i)
        Report("    %-17s %s", version.texts[i].name, version.texts[i].value);
}
} // namespace

const char* const kImportNames[kImportCount] = {"Tamla_EnumDevices", "Tamla_SetIspOption",
                                                "Tamla_FlashProgramB"};

bool InspectLibraryFile(const wchar_t* path, char* cause, size_t causeSize) {
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
    UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view =
        mapping.valid() ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    MappedView unmap(view);
    if (view == nullptr) {
        std::snprintf(cause, causeSize, "the file cannot be read (error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const LibraryBytes image{static_cast<const uint8_t*>(view),
                             static_cast<uint64_t>(size.QuadPart)};
    uint8_t digest[32];
    char hex[72] = "";
    if (Sha256(image.bytes, image.size, digest)) {
        for (int i = 0; i < 32; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        Report("  SHA-256            %s", hex);
    } else {
        Report("  SHA-256            not available on this system");
    }

    PeFacts pe{};
    if (!ReadPeHeader(image, &pe, cause, causeSize))
        return false;
    Run().machineRead = true;
    Run().machineMatches = pe.machine == kProbeMachine;
    std::snprintf(Run().machineText, sizeof Run().machineText, "%s, 0x%04X",
                  MachineName(pe.machine), pe.machine);
    const bool dll = (pe.characteristics & kImageFileDll) != 0;
    Report("  machine            %s, %s", Run().machineText, dll ? "a DLL" : "NOT a DLL");
    ReportVersion(image, pe);
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
    else if (!Run().machineMatches)
        std::snprintf(cause, causeSize, "a library for %s: this %s probe cannot load it%s",
                      MachineName(pe.machine), MachineName(kProbeMachine),
                      kProbeMachine == kMachineX86 ? ", nor can the 32-bit tool" : "");
    else
        return true;
    return false;
}
