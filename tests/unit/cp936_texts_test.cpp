// The CP936 escapes the Windows builds carry, decoded by the C library's own
// converter and compared with the UTF-8 text written beside each.
#include "cp936_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <optional>
#include <string>

namespace {
struct TextRow {
    const char* name;
    std::string cp936;
    std::string utf8;
};

// Both columns whatever this build takes; sizeof keeps an escaped NUL byte.
#define CP936_TEXT_ROW(name, cp936, utf8)                                                          \
    TextRow{#name, std::string(cp936, sizeof(cp936) - 1), utf8},
const TextRow kRows[] = {CP936_TEXTS(CP936_TEXT_ROW)};
#undef CP936_TEXT_ROW

// The UTF-8 form of CP936 bytes; nothing when a byte sequence is invalid or
// cut short, or when the C library has no CP936 converter.
std::optional<std::string> DecodeCp936(const std::string& bytes) {
    iconv_t converter = iconv_open("UTF-8", "CP936");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = bytes;
    char out[512];
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out;
    size_t outLeft = sizeof(out);
    size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (done == static_cast<size_t>(-1) || inLeft != 0)
        return std::nullopt;
    return std::string(out, sizeof(out) - outLeft);
}
} // namespace

TEST(Cp936TextsTest, EveryEscapeDecodesToTheTextBesideIt) {
    for (const TextRow& row : kRows) {
        SCOPED_TRACE(row.name);
        std::optional<std::string> decoded = DecodeCp936(row.cp936);
        ASSERT_TRUE(decoded.has_value()) << "not valid CP936 (or no converter)";
        EXPECT_EQ(*decoded, row.utf8);
        // An ASCII-only row would not need to be here; a row whose escapes
        // were copied from the UTF-8 bytes decodes to other characters above.
        EXPECT_NE(row.cp936, row.utf8);
    }
}

TEST(Cp936TextsTest, DecoderRejectsWhatIsNotCp936) {
    EXPECT_EQ(DecodeCp936("\xC5\xE4\xD6\xC3"), std::optional<std::string>("配置"));
    EXPECT_EQ(DecodeCp936("\xC5\xE4\xD6"), std::nullopt) << "a lead byte without its trail";
    EXPECT_EQ(DecodeCp936("\xFF\xFF"), std::nullopt);
}
