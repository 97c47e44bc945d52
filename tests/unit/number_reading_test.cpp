#include "dialog_access.h"

#include <gtest/gtest.h>

#include <string>

TEST(NumberReading, PlainAndBlankPrefixedDigits) {
    EXPECT_EQ(ParseUnsignedText("500"), 500u);
    EXPECT_EQ(ParseUnsignedText("  42"), 42u);
    EXPECT_EQ(ParseUnsignedText("\t 7"), 7u);
    EXPECT_EQ(ParseUnsignedText("0"), 0u);
    EXPECT_EQ(ParseUnsignedText("999999999"), 999999999u); // the wait time box's 9 digits
}

TEST(NumberReading, DigitsStopAtTheFirstOtherCharacter) {
    EXPECT_EQ(ParseUnsignedText("12ab"), 12u);
    EXPECT_EQ(ParseUnsignedText("1 2"), 1u);
    EXPECT_EQ(ParseUnsignedText("3.5"), 3u);
}

TEST(NumberReading, NothingReadableIsZero) {
    EXPECT_EQ(ParseUnsignedText(nullptr), 0u);
    EXPECT_EQ(ParseUnsignedText(""), 0u);
    EXPECT_EQ(ParseUnsignedText("   "), 0u);
    EXPECT_EQ(ParseUnsignedText("abc"), 0u);
    EXPECT_EQ(ParseUnsignedText("x12"), 0u);
}

TEST(NumberReading, SignsAreNotAccepted) {
    EXPECT_EQ(ParseUnsignedText("-5"), 0u);
    EXPECT_EQ(ParseUnsignedText("+5"), 0u);
    EXPECT_EQ(ParseUnsignedText(" -0"), 0u);
}

TEST(NumberReading, ThirtyTwoBitLimit) {
    EXPECT_EQ(ParseUnsignedText("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsignedText("4294967296"), 0u);
    EXPECT_EQ(ParseUnsignedText("10000000000"), 0u);
    // Far beyond 64 bits too: the overflow must be seen, not wrapped.
    EXPECT_EQ(ParseUnsignedText(std::string(40, '9').c_str()), 0u);
    EXPECT_EQ(ParseUnsignedText("18446744073709551617"), 0u); // 2^64 + 1
    // Leading zeros do not count towards the limit.
    EXPECT_EQ(ParseUnsignedText((std::string(30, '0') + "4294967295").c_str()), 4294967295u);
}
