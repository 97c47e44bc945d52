// Closing the tool while a programmer is being written.
#include "close_guard.h"
#include "config_run.h"
#include "core_fixture.h"
#include "isp_options.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
const std::string kDeferral = "A device is being written; the tool will close when the write ends.";
const std::string kBeginA = "<1#ISP DEV:3A-01-7F-00-12-C4> begin config...";
const std::string kSuccA = "<1#ISP DEV:3A-01-7F-00-12-C4> config succ";
} // namespace

class CloseGuardTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        LoadTable({DeviceA(), DeviceB()});
    }
};

TEST_F(CloseGuardTest, IdleCloseIsImmediateAndNoWriteStartsAfterIt) {
    EXPECT_TRUE(RequestClose());
    // Runs still queued after the decision end without a trace: no control
    // read, no line (not even for a bad index).
    dialog->ClearOperations();
    ConfigureDevice(0);
    ConfigureDevice(5);
    EXPECT_EQ(library.FlashCallCount(), 0u);
    EXPECT_EQ(dialog->Operations(), std::vector<std::string>{});
    EXPECT_FALSE(RunInProgress());
}

TEST_F(CloseGuardTest, CloseDuringAWriteWaitsForItsOutcomeAndIsPostedOnce) {
    ASSERT_EQ(ApplyIspOptions(), 1);
    std::vector<bool> answers;
    library.SetOnFlash([&](uint32_t) {
        if (answers.empty()) {
            ConfigureDevice(1);                     // queued behind this write
            library.FireEvent(1, 0x3, 2);           // deferred until the run ends
            for (int press = 0; press < 3; ++press) // Escape, close box, Alt+F4
                answers.push_back(RequestClose());
        }
    });
    ConfigureDevice(0);

    EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{kBeginA, kDeferral, kSuccA}));
    // The queued run did not write; the close, not the deferred search, is
    // what the dialog is asked for, after the outcome was logged and shown.
    EXPECT_EQ(library.FlashCallCount(), 1u);
    EXPECT_EQ(dialog->PostedClicks(), (std::vector<int>{kCloseCommandId}));
    const std::vector<std::string> ops = dialog->Operations();
    const auto outcome = std::find(ops.begin(), ops.end(), "AppendText 1009 " + kSuccA + "\r\n");
    const auto buttons = std::find(ops.begin(), ops.end(), "Enable 1004");
    const auto close = std::find(ops.begin(), ops.end(), "PostClick 2");
    EXPECT_LT(outcome, buttons);
    EXPECT_LT(buttons, close);
    EXPECT_NE(close, ops.end());
    EXPECT_FALSE(WriteInProgress());
    EXPECT_TRUE(RequestClose()); // the posted close now closes
}

TEST_F(CloseGuardTest, SessionEndWaitsForTheWriteAndHoldsBackNewOnes) {
    bool mayEndDuringWrite = true;
    library.SetOnFlash([&](uint32_t) { mayEndDuringWrite = MaySessionEnd(); });
    ConfigureDevice(0);
    EXPECT_FALSE(mayEndDuringWrite);
    EXPECT_TRUE(dialog->PostedClicks().empty()); // a refused session end closes nothing
    library.SetOnFlash(nullptr);

    // A press while the session may be ending is not written, and says so:
    // the end may yet be called off.
    EXPECT_TRUE(MaySessionEnd());
    ConfigureDevice(0);
    EXPECT_EQ(library.FlashCallCount(), 1u);
    EXPECT_EQ(dialog->LogLines().back(),
              std::string("<") + kLabelA + "> not configured: the session is ending");
    SessionEndCalledOff();
    ConfigureDevice(0);
    EXPECT_EQ(library.FlashCallCount(), 2u);
}
