// The probe's reading of a library file before anything loads it: its PE
// header, its export names and its version resource. Plain bytes in, plain
// records out and nothing of Windows, so a fuzz target runs it natively.
// Every read is checked against the file and every loop is capped: no
// crafted file makes it read outside the file or run long.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kImageFileDll = 0x2000;
// The Windows loader loads no image with more sections.
constexpr uint16_t kMaxSections = 96;
// Export names read; a table that declares more is counted only.
constexpr uint32_t kMaxExportNames = 4096;
// Bytes of a name read before its terminator; a longer name is cut there.
constexpr size_t kMaxExportNameLength = 255;

struct LibraryBytes {
    const uint8_t* bytes;
    uint64_t size;
};

struct PeFacts {
    uint16_t machine;
    uint16_t characteristics;
    uint64_t sections; // file offset of the section table
    uint16_t sectionCount;
    uint32_t exportRva;
    uint32_t exportSize;
    uint32_t resourceRva;
    uint64_t needed; // bytes the headers and sections need
};

// False, with a one-line cause, when the file has no PE header a loader
// would take: no MZ or PE signature, a file that ends inside the headers,
// an optional header of neither known magic or too short for its fields,
// more sections than the loader loads.
bool ReadPeHeader(const LibraryBytes& file, PeFacts* pe, char* cause, size_t causeSize);

// Called for each export name read, in the table's order. The name is
// printable ASCII ('?' for other bytes); cut is set for one longer than
// kMaxExportNameLength, and a name outside the file comes as nullptr.
typedef void (*ExportNameFn)(void* context, const char* name, bool cut);

struct ExportTable {
    bool present;
    uint32_t declared;   // names the directory declares
    uint32_t read;       // names handed to the caller
    const char* problem; // why the table cannot be read, or nullptr
};
ExportTable ReadExportNames(const LibraryBytes& file, const PeFacts& pe, ExportNameFn onName,
                            void* context);

struct VersionText {
    char name[24];
    char value[256]; // UTF-8, control characters as '?'
};
constexpr size_t kVersionTexts = 8;

struct VersionFacts {
    bool present; // the file has a version resource
    bool fixed;   // with a fixed version block
    uint16_t file[4];
    uint16_t product[4];
    size_t textCount;
    VersionText texts[kVersionTexts]; // the fields support asks for, in a fixed order
    const char* problem;              // why a resource present could not be read, or nullptr
};
VersionFacts ReadVersion(const LibraryBytes& file, const PeFacts& pe);
