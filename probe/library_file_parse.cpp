#include "library_file_parse.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kSectionSize = 40;
constexpr uint64_t kExportDirectorySize = 40;
constexpr uint32_t kResourceVersion = 16;
constexpr uint32_t kResourceSubdirectory = 0x80000000u;
// Entries looked at per resource directory and blocks per version level.
constexpr uint32_t kMaxEntries = 256;
// A version resource is a few kilobytes; more is not read.
constexpr uint64_t kMaxVersionSize = 64 * 1024;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr const char* kVersionFields[kVersionTexts] = {
    "CompanyName",    "FileDescription",  "FileVersion",  "ProductName",
    "ProductVersion", "OriginalFilename", "InternalName", "LegalCopyright"};

// Bytes with bounds-checked reads; offsets are relative to the start.
struct Span {
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
    Span From(uint64_t offset, uint64_t count) const {
        if (!Has(offset, 0))
            return Span{bytes, 0};
        return Span{bytes + offset, count < size - offset ? count : size - offset};
    }
};

// The bytes of the file from an RVA to the end of the section's raw data
// that holds it; empty when no section holds it in the file.
Span AtRva(const LibraryBytes& file, const PeFacts& pe, uint32_t rva) {
    const Span all{file.bytes, file.size};
    for (uint16_t i = 0; i < pe.sectionCount; ++i) {
        const uint64_t section = pe.sections + kSectionSize * i;
        if (!all.Has(section, kSectionSize))
            break;
        const uint32_t virtualSize = all.U32(section + 8);
        const uint32_t address = all.U32(section + 12);
        const uint32_t rawSize = all.U32(section + 16);
        const uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva >= address && rva - address < span && rva - address < rawSize)
            return all.From(uint64_t{all.U32(section + 20)} + (rva - address),
                            rawSize - (rva - address));
    }
    return Span{file.bytes, 0};
}

// Appends the UTF-8 form of code point c, if it fits whole.
void PutUtf8(char* buffer, size_t size, size_t* used, uint32_t c) {
    uint8_t bytes[4];
    size_t n = 0;
    if (c < 0x80) {
        bytes[n++] = static_cast<uint8_t>(c);
    } else if (c < 0x800) {
        bytes[n++] = static_cast<uint8_t>(0xC0 | c >> 6);
        bytes[n++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[n++] = static_cast<uint8_t>(0xE0 | c >> 12);
        bytes[n++] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
        bytes[n++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else {
        bytes[n++] = static_cast<uint8_t>(0xF0 | c >> 18);
        bytes[n++] = static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F));
        bytes[n++] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
        bytes[n++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    }
    if (*used + n >= size)
        return;
    std::memcpy(buffer + *used, bytes, n);
    *used += n;
    buffer[*used] = 0;
}

// The UTF-16 text at offset up to a zero or the end of the span, as UTF-8:
// control characters become '?', a broken surrogate U+FFFD.
void Utf8FromUtf16(char* buffer, size_t size, const Span& span, uint64_t offset) {
    size_t used = 0;
    buffer[0] = 0;
    for (uint64_t at = offset; span.Has(at, 2) && used + 1 < size; at += 2) {
        uint32_t c = span.U16(at);
        if (c == 0)
            break;
        if (c >= 0xD800 && c < 0xDC00 && span.Has(at + 2, 2) && span.U16(at + 2) >= 0xDC00 &&
            span.U16(at + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (span.U16(at + 2) - 0xDC00);
            at += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        PutUtf8(buffer, size, &used, c < 0x20 || c == 0x7F ? '?' : c);
    }
}

// Whether the zero-terminated UTF-16 key at offset is the ASCII text.
bool KeyIs(const Span& span, uint64_t offset, const char* text) {
    for (size_t i = 0;; ++i) {
        if (!span.Has(offset + 2 * i, 2))
            return false;
        const uint16_t c = span.U16(offset + 2 * i);
        if (c != static_cast<uint8_t>(text[i]))
            return false;
        if (c == 0)
            return true;
    }
}

uint64_t Align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

// One block of a version resource: its length, its key, its value and the
// blocks inside it, all within the block.
struct Block {
    Span bytes; // the whole block
    uint16_t valueLength;
    uint64_t key;      // offset of the key
    uint64_t value;    // offset of the value
    uint64_t children; // offset of the first child
};

bool ReadBlock(const Span& span, uint64_t at, Block* block) {
    if (!span.Has(at, 6))
        return false;
    const uint16_t length = span.U16(at);
    if (length < 6 || !span.Has(at, length))
        return false;
    block->bytes = span.From(at, length);
    block->valueLength = span.U16(at + 2);
    block->key = 6;
    uint64_t end = block->key;
    while (block->bytes.Has(end, 2) && block->bytes.U16(end) != 0)
        end += 2;
    block->value = Align4(end + 2);
    const bool text = span.U16(at + 4) == 1;
    block->children = Align4(block->value + uint64_t{block->valueLength} * (text ? 2 : 1));
    return true;
}

// The blocks inside a block, one after another; false after the last.
bool NextChild(const Block& parent, uint64_t* at, Block* child) {
    if (!ReadBlock(parent.bytes, *at, child))
        return false;
    *at = Align4(*at + child->bytes.size);
    return true;
}

void ReadFixed(const Block& root, VersionFacts* facts) {
    const Span& b = root.bytes;
    if (root.valueLength < 52 || !b.Has(root.value, 52) || b.U32(root.value) != kFixedSignature)
        return;
    facts->fixed = true;
    const uint32_t words[4] = {b.U32(root.value + 8), b.U32(root.value + 12),
                               b.U32(root.value + 16), b.U32(root.value + 20)};
    facts->file[0] = static_cast<uint16_t>(words[0] >> 16);
    facts->file[1] = static_cast<uint16_t>(words[0]);
    facts->file[2] = static_cast<uint16_t>(words[1] >> 16);
    facts->file[3] = static_cast<uint16_t>(words[1]);
    facts->product[0] = static_cast<uint16_t>(words[2] >> 16);
    facts->product[1] = static_cast<uint16_t>(words[2]);
    facts->product[2] = static_cast<uint16_t>(words[3] >> 16);
    facts->product[3] = static_cast<uint16_t>(words[3]);
}

// The fields of the first string table, in kVersionFields order.
void ReadTexts(const Block& stringFileInfo, VersionFacts* facts) {
    uint64_t at = stringFileInfo.children;
    Block table;
    if (!NextChild(stringFileInfo, &at, &table))
        return;
    for (const char* field : kVersionFields) {
        uint64_t next = table.children;
        Block text;
        for (uint32_t n = 0; n < kMaxEntries && NextChild(table, &next, &text); ++n) {
            if (!KeyIs(text.bytes, text.key, field))
                continue;
            VersionText& out = facts->texts[facts->textCount++];
            std::snprintf(out.name, sizeof out.name, "%s", field);
            Utf8FromUtf16(out.value, sizeof out.value, text.bytes, text.value);
            break;
        }
    }
}

// The data of the first RT_VERSION resource, or an empty span.
Span VersionResource(const LibraryBytes& file, const PeFacts& pe) {
    const Span tree = AtRva(file, pe, pe.resourceRva);
    uint64_t directory = 0;
    // Type, then name, then language: the first entry of each after the type.
    for (int level = 0; level < 3; ++level) {
        if (!tree.Has(directory, 16))
            return Span{file.bytes, 0};
        const uint32_t entries = uint32_t{tree.U16(directory + 12)} + tree.U16(directory + 14);
        uint32_t data = 0;
        bool found = false;
        for (uint32_t i = 0; i < entries && i < kMaxEntries && !found; ++i) {
            const uint64_t entry = directory + 16 + 8 * uint64_t{i};
            if (!tree.Has(entry, 8))
                break;
            found = level != 0 || tree.U32(entry) == kResourceVersion;
            data = tree.U32(entry + 4);
        }
        const bool subdirectory = (data & kResourceSubdirectory) != 0;
        if (!found || subdirectory != (level < 2))
            return Span{file.bytes, 0};
        directory = data & ~kResourceSubdirectory;
    }
    if (!tree.Has(directory, 16))
        return Span{file.bytes, 0};
    const Span data = AtRva(file, pe, tree.U32(directory));
    const uint64_t size = tree.U32(directory + 4);
    return data.From(0, size < kMaxVersionSize ? size : kMaxVersionSize);
}
} // namespace

bool ReadPeHeader(const LibraryBytes& file, PeFacts* pe, char* cause, size_t causeSize) {
    const Span all{file.bytes, file.size};
    *pe = PeFacts{};
    if (!all.Has(0, 64) || all.bytes[0] != 'M' || all.bytes[1] != 'Z') {
        std::snprintf(cause, causeSize, "not a Windows library: no MZ header");
        return false;
    }
    const uint32_t at = all.U32(0x3C);
    if (!all.Has(at, 24) || std::memcmp(all.bytes + at, "PE\0\0", 4) != 0) {
        std::snprintf(cause, causeSize,
                      all.Has(at, 4) ? "not a Windows library: no PE header"
                                     : "truncated: the file ends before its PE header");
        return false;
    }
    pe->machine = all.U16(at + 4);
    pe->sectionCount = all.U16(at + 6);
    const uint16_t optionalSize = all.U16(at + 20);
    pe->characteristics = all.U16(at + 22);
    const uint64_t optional = uint64_t{at} + 24;
    pe->sections = optional + optionalSize;
    pe->needed = pe->sections + kSectionSize * pe->sectionCount;
    if (!all.Has(optional, 2)) {
        std::snprintf(cause, causeSize, "truncated: the file ends before its optional header");
        return false;
    }
    const uint16_t magic = all.U16(optional);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        std::snprintf(cause, causeSize,
                      "not a Windows library: its optional header's magic is 0x%04X, neither "
                      "0x10B nor 0x20B",
                      static_cast<unsigned>(magic));
        return false;
    }
    // The data directories follow the count of them: export, import, resource.
    const uint64_t count = magic == kMagicPe32Plus ? 108 : 92;
    const uint64_t directories = count + 4;
    if (optionalSize < directories || !all.Has(optional, optionalSize)) {
        std::snprintf(cause, causeSize,
                      all.Has(optional, optionalSize)
                          ? "not a Windows library: its optional header (%u bytes) is too short"
                          : "truncated: the file ends inside its optional header (%u bytes)",
                      static_cast<unsigned>(optionalSize));
        return false;
    }
    if (pe->sectionCount > kMaxSections) {
        std::snprintf(cause, causeSize,
                      "not a Windows library: %u sections, more than the %u Windows loads",
                      static_cast<unsigned>(pe->sectionCount), static_cast<unsigned>(kMaxSections));
        return false;
    }
    const uint32_t present = all.U32(optional + count);
    const uint64_t room = (optionalSize - directories) / 8;
    if (present > 0 && room > 0) {
        pe->exportRva = all.U32(optional + directories);
        pe->exportSize = all.U32(optional + directories + 4);
    }
    if (present > 2 && room > 2)
        pe->resourceRva = all.U32(optional + directories + 16);
    if (all.Has(pe->sections, kSectionSize * pe->sectionCount)) {
        for (uint16_t i = 0; i < pe->sectionCount; ++i) {
            const uint64_t section = pe->sections + kSectionSize * i;
            const uint64_t end = uint64_t{all.U32(section + 20)} + all.U32(section + 16);
            if (all.U32(section + 16) != 0 && end > pe->needed)
                pe->needed = end;
        }
    }
    return true;
}

ExportTable ReadExportNames(const LibraryBytes& file, const PeFacts& pe, ExportNameFn onName,
                            void* context) {
    ExportTable table{};
    if (pe.exportRva == 0)
        return table;
    table.present = true;
    const Span directory = AtRva(file, pe, pe.exportRva);
    if (pe.exportSize < kExportDirectorySize || !directory.Has(0, kExportDirectorySize)) {
        table.problem = pe.exportSize < kExportDirectorySize
                            ? "its export directory is declared smaller than a directory"
                            : "its export directory lies outside the file";
        return table;
    }
    table.declared = directory.U32(24);
    const uint32_t wanted = table.declared < kMaxExportNames ? table.declared : kMaxExportNames;
    const Span names = AtRva(file, pe, directory.U32(32));
    if (!names.Has(0, uint64_t{4} * wanted)) {
        table.problem = "its export name table lies outside the file";
        return table;
    }
    char name[kMaxExportNameLength + 1];
    for (uint32_t i = 0; i < wanted; ++i) {
        const Span text = AtRva(file, pe, names.U32(uint64_t{4} * i));
        size_t n = 0;
        for (; n < kMaxExportNameLength && text.Has(n, 1) && text.bytes[n] != 0; ++n) {
            const uint8_t c = text.bytes[n];
            name[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
        }
        name[n] = 0;
        const bool cut = n == kMaxExportNameLength && text.Has(n, 1) && text.bytes[n] != 0;
        onName(context, text.Has(n, 1) || cut ? name : nullptr, cut);
        ++table.read;
    }
    return table;
}

VersionFacts ReadVersion(const LibraryBytes& file, const PeFacts& pe) {
    VersionFacts facts{};
    if (pe.resourceRva == 0)
        return facts;
    const Span data = VersionResource(file, pe);
    if (data.size == 0)
        return facts;
    facts.present = true;
    Block root;
    if (!ReadBlock(data, 0, &root) || !KeyIs(root.bytes, root.key, "VS_VERSION_INFO")) {
        facts.problem = "no VS_VERSION_INFO block";
        return facts;
    }
    ReadFixed(root, &facts);
    uint64_t at = root.children;
    Block child;
    for (uint32_t n = 0; n < kMaxEntries && NextChild(root, &at, &child); ++n) {
        if (KeyIs(child.bytes, child.key, "StringFileInfo")) {
            ReadTexts(child, &facts);
            break;
        }
    }
    return facts;
}
