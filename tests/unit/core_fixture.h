// Common set-up of the core tests: a fresh fake dialog in its start-up state,
// the fake library with no devices, the build's firmware payload and the
// process state as at start.
#pragma once

#include "device_coordination.h"
#include "dialog_access.h"
#include "fake_dialog.h"
#include "fake_library.h"
#include "fake_platform.h"
#include "resource.h"
#include "shared_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeLibrary::Instance().Reset();
        fake_platform::Reset();
        fake_platform::SetPayload(fake_platform::BuildPayload());
        fake_platform::SetEchoDebugOutput(false);
        ResetSharedState();
        dialog = std::make_unique<FakeDialog>();
        dialog->Choose(IDC_PORT_SELECT, 0);
        dialog->SetChecked(IDC_PLUG_NOTIFY, true);
        SetDialogAccess(dialog.get());
    }

    void TearDown() override {
        FakeLibrary::Instance().WaitEvents();
        fake_platform::JoinWorkers();
        FakeLibrary::Instance().Reset();
        SetDialogAccess(nullptr);
    }

    // The two programmers of the examples: ids 1 and 2.
    static IspDeviceInfo DeviceA() {
        return MakeDevice(1, {0x3A, 0x01, 0x7F, 0x00, 0x12, 0xC4}, 0x0210, "PROG-A");
    }
    static IspDeviceInfo DeviceB() {
        return MakeDevice(2, {0x5C, 0x22, 0x91, 0x00, 0x47, 0xE1}, 0x0211, "PROG-B");
    }
    static constexpr const char* kLabelA = "1#ISP DEV:3A-01-7F-00-12-C4";
    static constexpr const char* kLabelB = "2#ISP DEV:5C-22-91-00-47-E1";
    static constexpr const char* kInfoA = "UID:3A-01-7F-00-12-C4,BTVER:0210";
    static constexpr const char* kInfoB = "UID:5C-22-91-00-47-E1,BTVER:0211";

    // Puts records straight into the table, as a finished search would.
    static void LoadTable(const std::vector<IspDeviceInfo>& devices) {
        for (size_t i = 0; i < devices.size() && i < kDeviceSlots; ++i)
            DeviceTable[i] = devices[i];
        DeviceCount = uint32_t(devices.size());
    }

    static void SetCurrentMode(int32_t mode) {
        IspPutU32(CurrentOption, isp_option::kMode, uint32_t(mode));
    }

    // Recorded dialog operations that start with prefix, in order.
    std::vector<std::string> OperationsStartingWith(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& op : dialog->Operations())
            if (op.rfind(prefix, 0) == 0)
                found.push_back(op);
        return found;
    }

    // Recorded operations that change the two action buttons, in order.
    std::vector<std::string> ButtonOperations() {
        std::vector<std::string> found;
        for (const std::string& op : dialog->Operations())
            if (op == "Enable 1007" || op == "Disable 1007" || op == "Enable 1004" ||
                op == "Disable 1004")
                found.push_back(op);
        return found;
    }

    FakeLibrary& library = FakeLibrary::Instance();
    std::unique_ptr<FakeDialog> dialog;
};
