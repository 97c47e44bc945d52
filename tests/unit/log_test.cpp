#include "core_fixture.h"
#include "log.h"

#include <string>

class LogTest : public CoreTest {};

TEST_F(LogTest, OneLineGoesToBothPlacesWithOneLineEnd) {
    LogPrintf("Invalid device index(%d)", 3);
    EXPECT_EQ(fake_platform::DebugOutput(),
              (std::vector<std::string>{"Invalid device index(3)\r\n"}));
    EXPECT_EQ(dialog->Operations(),
              (std::vector<std::string>{"AppendText 1009 Invalid device index(3)\r\n"}));
}

TEST_F(LogTest, PercentSignsInTheFormattedTextSurvive) {
    LogPrintf("%s", "100% done %d %s");
    LogPrintf("50%%");
    EXPECT_EQ(dialog->Get(IDC_LOG).text, "100% done %d %s\r\n50%\r\n");
}

TEST_F(LogTest, LongTextIsCutForTheBoxButNotForTheDebugger) {
    const std::string message(600, 'm');
    LogPrintf("%s", message.c_str());
    EXPECT_EQ(dialog->Get(IDC_LOG).text, std::string(510, 'm') + "\n");
    EXPECT_EQ(fake_platform::DebugOutput().at(0), message + "\r\n");
}

TEST_F(LogTest, CutStartsOnlyPastFiveHundredElevenBytes) {
    AppendLogText(std::string(511, 'a').c_str());
    EXPECT_EQ(dialog->Get(IDC_LOG).text, std::string(511, 'a'));
    dialog->Type(IDC_LOG, "");
    AppendLogText((std::string(510, 'b') + "\r\n").c_str()); // 512 bytes
    EXPECT_EQ(dialog->Get(IDC_LOG).text, std::string(510, 'b') + "\n");
}

TEST_F(LogTest, MessageBeyondTheFormatBufferIsBounded) {
    const std::string huge(3 * kLogFormatBufferSize, 'h');
    LogPrintf("%s", huge.c_str());
    const std::string debug = fake_platform::DebugOutput().at(0);
    EXPECT_EQ(debug.size(), kLogFormatBufferSize - 1);
    EXPECT_EQ(debug.substr(debug.size() - 2), "\r\n");
    EXPECT_EQ(dialog->Get(IDC_LOG).text.size(), 511u);
}
