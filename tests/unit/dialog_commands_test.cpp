#include "core_fixture.h"
#include "dialog_commands.h"
#include "worker_jobs.h"

#include <string>
#include <vector>

class DialogCommandsTest : public CoreTest {
protected:
    // What the dialog's thread recorded is done by the one worker it
    // started, never by the dialog's thread itself.
    void RunTheWorker() {
        ASSERT_EQ(fake_platform::WorkerStarts().size(), started + 1);
        EXPECT_EQ(library.Registrations().size(), registered);
        EXPECT_EQ(library.EnumCalls(), searched);
        RunWorkerJob(fake_platform::WorkerStarts()[started++].argument);
        registered = library.Registrations().size();
        searched = library.EnumCalls();
    }
    size_t started = 0;
    size_t registered = 0;
    int searched = 0;
};

TEST_F(DialogCommandsTest, ConfigureNeedsASelection) {
    EXPECT_TRUE(HandleDialogCommand(IDC_CONFIGURE, 0));
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"请先选择配置设备或者当前没有找到配置设备."}));
    EXPECT_TRUE(fake_platform::WorkerStarts().empty());

    dialog->Choose(IDC_DEVICE_LIST, 1);
    EXPECT_TRUE(HandleDialogCommand(IDC_CONFIGURE, 0));
    std::vector<fake_platform::WorkerStart> starts = fake_platform::WorkerStarts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].argument, 1u);
}

TEST_F(DialogCommandsTest, FindDevicesRegistersThenSearchesEvenAfterARefusal) {
    library.SetDevices({DeviceA()});
    EXPECT_TRUE(HandleDialogCommand(IDC_FIND_DEVICES, 0));
    RunTheWorker();
    EXPECT_EQ(library.Registrations().size(), 1u);
    EXPECT_TRUE(dialog->LogLines().empty());
    EXPECT_EQ(dialog->Get(IDC_DEVICE_LIST).entries, (std::vector<std::string>{kLabelA}));

    library.SetOptionResult(0);
    EXPECT_TRUE(HandleDialogCommand(IDC_FIND_DEVICES, 0));
    RunTheWorker();
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{"Set isp option failure."}));
    EXPECT_EQ(library.EnumCalls(), 2);
}

TEST_F(DialogCommandsTest, ClearLogEmptiesOnlyTheLog) {
    dialog->Type(IDC_LOG, "old line\r\n");
    dialog->ClearOperations();
    EXPECT_TRUE(HandleDialogCommand(IDC_CLEAR_LOG, 0));
    EXPECT_EQ(dialog->Operations(), (std::vector<std::string>{"SetText 1009 "}));
    EXPECT_EQ(dialog->Get(IDC_LOG).text, "");
}

TEST_F(DialogCommandsTest, DeviceListShowsInfoOnlyForSelectionAndFocus) {
    LoadTable({DeviceA(), DeviceB()});
    dialog->Choose(IDC_DEVICE_LIST, 1);
    for (int code : {0, 2, 4, 5, 6, 9}) {
        EXPECT_TRUE(HandleDialogCommand(IDC_DEVICE_LIST, code));
    }
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, "");
    HandleDialogCommand(IDC_DEVICE_LIST, kListFocusGained);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoB);
    dialog->Choose(IDC_DEVICE_LIST, 0);
    HandleDialogCommand(IDC_DEVICE_LIST, kListSelectionChanged);
    EXPECT_EQ(dialog->Get(IDC_DEVICE_INFO).text, kInfoA);
}

TEST_F(DialogCommandsTest, RegistrationsRunInOrderAndLogAsTheirCommandsSay) {
    // Commands given while the worker has not come yet: one worker does them
    // all, in order, and searches for none of them. The two boxes' commands
    // register the same record, so they make one registration.
    EXPECT_TRUE(HandleDialogCommand(IDC_PLUG_NOTIFY, 0));
    dialog->SetChecked(IDC_AUTO_DOWNLOAD, true);
    EXPECT_TRUE(HandleDialogCommand(IDC_AUTO_DOWNLOAD, 0));
    EXPECT_TRUE(HandleDialogCommand(IDC_SET_ISP_OPTION, 0));
    RunTheWorker();
    EXPECT_EQ(AutoDownload.load(), 1u);
    EXPECT_EQ(dialog->LogLines(), (std::vector<std::string>{"Set isp option succ"}));

    library.SetOptionResult(0);
    HandleDialogCommand(IDC_PLUG_NOTIFY, 0);
    HandleDialogCommand(IDC_SET_ISP_OPTION, 0);
    HandleDialogCommand(IDC_AUTO_DOWNLOAD, 0);
    RunTheWorker();
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"Set isp option succ", "Set isp option failure.",
                                        "Set isp option failure.", "Set isp option failure."}));
    EXPECT_EQ(library.Registrations().size(), 5u);
    EXPECT_EQ(library.EnumCalls(), 0);
}

TEST_F(DialogCommandsTest, LimitBoxEnablesTheCountField) {
    dialog->Enable(IDC_COUNT_LIMIT, false);
    dialog->SetChecked(IDC_LIMIT_COUNT, true);
    HandleDialogCommand(IDC_LIMIT_COUNT, 0);
    EXPECT_TRUE(dialog->Get(IDC_COUNT_LIMIT).enabled);
    dialog->SetChecked(IDC_LIMIT_COUNT, false);
    HandleDialogCommand(IDC_LIMIT_COUNT, 0);
    EXPECT_FALSE(dialog->Get(IDC_COUNT_LIMIT).enabled);
}

TEST_F(DialogCommandsTest, OtherCommandsAreLeftToTheCaller) {
    for (int id : {1, 2, 0, 1005, 10331, 65535}) {
        EXPECT_FALSE(HandleDialogCommand(id, 0)) << id;
    }
    EXPECT_TRUE(dialog->Operations().empty());
    EXPECT_TRUE(library.Registrations().empty());
}

TEST_F(DialogCommandsTest, StartUpWithNoDeviceAttached) {
    fake_platform::SetRunWorkers(true);
    HandleDialogCommand(IDC_SET_ISP_OPTION, 0);
    HandleDialogCommand(IDC_FIND_DEVICES, 0);
    fake_platform::JoinWorkers();
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"Set isp option succ", "Not found isp device"}));
    EXPECT_EQ(library.Registrations().size(), 2u);
    EXPECT_TRUE(dialog->Get(IDC_FIND_DEVICES).enabled);
    EXPECT_TRUE(dialog->Get(IDC_CONFIGURE).enabled);
}

TEST_F(DialogCommandsTest, AThreadThatCannotStartIsLoggedAndNothingWaitsForIt) {
    fake_platform::SetThreadsFail(true);
    dialog->Choose(IDC_DEVICE_LIST, 1);
    HandleDialogCommand(IDC_CONFIGURE, 0);
    HandleDialogCommand(IDC_FIND_DEVICES, 0);
    HandleDialogCommand(IDC_SET_ISP_OPTION, 0);
    EXPECT_EQ(dialog->LogLines(),
              (std::vector<std::string>{"Cannot start a thread to configure device index(1)",
                                        "Cannot start a thread to search for devices",
                                        "Cannot start a thread to register the options"}));
    // Threads start again: the next command's worker does the search and the
    // registrations left waiting; the press, said to be dropped, is not written.
    fake_platform::SetThreadsFail(false);
    HandleDialogCommand(IDC_PLUG_NOTIFY, 0);
    RunTheWorker();
    EXPECT_EQ(dialog->LogLines().back(), "Not found isp device");
    EXPECT_EQ(library.Registrations().size(), 3u);
    EXPECT_EQ(library.EnumCalls(), 1);
    EXPECT_EQ(library.FlashCallCount(), 0u);
    EXPECT_FALSE(RequestPending());
}
