// Crafted library files through the probe's file parser: the PE header, the
// export names and the version resource. Inputs that start with "MZ" are
// files as they are; any other input patches bytes and runs of bytes of a
// small valid DLL image, and may cut it short, so the fuzzer starts deep
// inside the structures. ASan and UBSan catch a read outside the file; the checks
// below catch what the report relies on: names and texts of bounded length
// with nothing unprintable in them.
#include "library_file_parse.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {
void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

// One block of a version resource, its length filled in and padded to 4.
std::vector<uint8_t> VersionBlock(const char* key, const std::vector<uint8_t>& value, bool text,
                                  const std::vector<uint8_t>& children) {
    std::vector<uint8_t> b(6);
    for (const char* c = key;; ++c) {
        b.push_back(uint8_t(*c));
        b.push_back(0);
        if (*c == 0)
            break;
    }
    b.resize((b.size() + 3) & ~size_t{3});
    b.insert(b.end(), value.begin(), value.end());
    b.resize((b.size() + 3) & ~size_t{3});
    b.insert(b.end(), children.begin(), children.end());
    Put16(b, 0, uint32_t(b.size()));
    Put16(b, 2, uint32_t(text ? value.size() / 2 : value.size()));
    Put16(b, 4, text ? 1 : 0);
    return b;
}

std::vector<uint8_t> Utf16(const char* text) {
    std::vector<uint8_t> b;
    for (const char* c = text;; ++c) {
        b.push_back(uint8_t(*c));
        b.push_back(0);
        if (*c == 0)
            return b;
    }
}

// A 32-bit DLL with one section at RVA 0x1000 (file offset 0x200): three
// export names, and a version resource with a fixed block and a company.
std::vector<uint8_t> Template() {
    std::vector<uint8_t> f(0x600);
    f[0] = 'M';
    f[1] = 'Z';
    Put32(f, 0x3C, 0x40);
    std::memcpy(&f[0x40], "PE\0\0", 4);
    Put16(f, 0x44, kMachineX86);
    Put16(f, 0x46, 1);
    Put16(f, 0x54, 224);
    Put16(f, 0x56, kImageFileDll | 0x102);
    const size_t optional = 0x58;
    Put16(f, optional, 0x10B);
    Put32(f, optional + 92, 16);
    Put32(f, optional + 96, 0x1000); // exports
    Put32(f, optional + 100, 0x100);
    Put32(f, optional + 112, 0x1100); // resources
    Put32(f, optional + 116, 0x300);
    const size_t section = optional + 224;
    std::memcpy(&f[section], ".data", 5);
    Put32(f, section + 8, 0x1000);
    Put32(f, section + 12, 0x1000);
    Put32(f, section + 16, 0x400);
    Put32(f, section + 20, 0x200);
    auto at = [](uint32_t rva) { return size_t{rva - 0x1000 + 0x200}; };
    Put32(f, at(0x1000) + 24, 3);
    Put32(f, at(0x1000) + 32, 0x1040);
    const char* names[] = {"Tamla_EnumDevices", "Tamla_FlashProgramB", "Tamla_SetIspOption"};
    for (uint32_t i = 0; i < 3; ++i) {
        Put32(f, at(0x1040) + 4 * i, 0x1050 + 0x20 * i);
        std::memcpy(&f[at(0x1050 + 0x20 * i)], names[i], std::strlen(names[i]));
    }
    // Type 16, name 1, language 0x804, then the data entry.
    const size_t tree = at(0x1100);
    const uint32_t levels[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x804, 0x48}};
    for (size_t level = 0; level < 3; ++level) {
        Put16(f, tree + 0x18 * level + 14, 1);
        Put32(f, tree + 0x18 * level + 16, levels[level][0]);
        Put32(f, tree + 0x18 * level + 20, levels[level][1]);
    }
    std::vector<uint8_t> fixed(52);
    Put32(fixed, 0, 0xFEEF04BD);
    Put32(fixed, 8, 0x00020005);
    Put32(fixed, 12, 0x00000007);
    const std::vector<uint8_t> company = VersionBlock("CompanyName", Utf16("Maker"), true, {});
    const std::vector<uint8_t> table = VersionBlock("080404b0", {}, true, company);
    const std::vector<uint8_t> strings = VersionBlock("StringFileInfo", {}, true, table);
    const std::vector<uint8_t> root = VersionBlock("VS_VERSION_INFO", fixed, false, strings);
    Put32(f, tree + 0x48, 0x1160);
    Put32(f, tree + 0x4C, uint32_t(root.size()));
    std::memcpy(&f[at(0x1160)], root.data(), root.size());
    return f;
}

bool Printable(const char* text) {
    for (const char* c = text; *c != 0; ++c)
        if (uint8_t(*c) < 0x20 || uint8_t(*c) >= 0x7F)
            return false;
    return true;
}

// Whole UTF-8 sequences and no control characters.
bool CleanUtf8(const char* text) {
    for (const uint8_t* c = reinterpret_cast<const uint8_t*>(text); *c != 0;) {
        const size_t n = *c < 0x80 ? 1 : *c >= 0xF0 ? 4 : *c >= 0xE0 ? 3 : *c >= 0xC2 ? 2 : 0;
        if (n == 0 || (n == 1 && (*c < 0x20 || *c == 0x7F)))
            return false;
        for (size_t i = 1; i < n; ++i)
            if ((c[i] & 0xC0) != 0x80)
                return false;
        c += n;
    }
    return true;
}

struct Names {
    std::vector<std::string> read;
};

void OnName(void* context, const char* name, bool) {
    if (name == nullptr)
        return;
    Check(std::strlen(name) <= kMaxExportNameLength, "a name is longer than the cap");
    Check(Printable(name), "a name holds an unprintable byte");
    static_cast<Names*>(context)->read.push_back(name);
}

// Everything the probe reads of the file.
void Parse(const std::vector<uint8_t>& file, Names* names, VersionFacts* version) {
    const LibraryBytes bytes{file.data(), file.size()};
    PeFacts pe;
    char cause[256];
    if (!ReadPeHeader(bytes, &pe, cause, sizeof cause)) {
        Check(std::strlen(cause) > 0, "a refused header without a cause");
        return;
    }
    const ExportTable table = ReadExportNames(bytes, pe, OnName, names);
    Check(table.read <= kMaxExportNames && table.read <= table.declared,
          "more names read than the cap or the table");
    *version = ReadVersion(bytes, pe);
    Check(version->textCount <= kVersionTexts, "more version texts than kept");
    for (size_t i = 0; i < version->textCount; ++i)
        Check(CleanUtf8(version->texts[i].value), "a version text is not clean UTF-8");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The template must parse whole, or patching it explores nothing.
    Names names;
    VersionFacts version{};
    Parse(Template(), &names, &version);
    Check(names.read.size() == 3 && names.read[2] == "Tamla_SetIspOption",
          "the template's export names");
    Check(version.fixed && version.file[1] == 5 && version.file[3] == 7 && version.textCount == 1 &&
              std::strcmp(version.texts[0].value, "Maker") == 0,
          "the template's version resource");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        file.assign(data, data + size);
    } else {
        FuzzedDataProvider input(data, size);
        file = Template();
        if (input.ConsumeBool())
            file.resize(input.ConsumeIntegralInRange<size_t>(0, file.size()));
        // Mostly single bytes; now and then a run, as a name or text too
        // long for any cap needs.
        while (input.remaining_bytes() >= 4 && !file.empty()) {
            const size_t at = input.ConsumeIntegral<uint16_t>() % file.size();
            const uint8_t value = input.ConsumeIntegral<uint8_t>();
            const uint8_t kind = input.ConsumeIntegral<uint8_t>();
            const size_t length = kind < 224 ? 1 : size_t{kind - 223u} * 32;
            std::memset(&file[at], value, std::min(length, file.size() - at));
        }
    }
    Names names;
    VersionFacts version{};
    Parse(file, &names, &version);
    return 0;
}
