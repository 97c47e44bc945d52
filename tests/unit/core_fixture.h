// Common set-up of the core tests: a fresh fake dialog in its start-up state,
// the fake library with no devices, the build's firmware payload and the
// process state as at start.
#pragma once

#include "dialog_access.h"
#include "fake_dialog.h"
#include "fake_library.h"
#include "fake_platform.h"
#include "resource.h"
#include "shared_state.h"

#include <gtest/gtest.h>

#include <memory>

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeLibrary::Instance().Reset();
        fake_platform::Reset();
        fake_platform::SetPayload(fake_platform::BuildPayload());
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

    FakeLibrary& library = FakeLibrary::Instance();
    std::unique_ptr<FakeDialog> dialog;
};
