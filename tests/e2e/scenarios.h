// The end-to-end scenarios, each run on the real exe in a fresh folder.
#pragma once

#include "scenario_support.h"

struct Scenario {
    const wchar_t* name;
    void (*run)(ScenarioContext& context);
};

// Each group file lists its scenarios; the suite runs them in this order.
const Scenario* StartupScenarios(size_t* count);
const Scenario* ConfigureScenarios(size_t* count);
const Scenario* EventScenarios(size_t* count);
const Scenario* DialogScenarios(size_t* count);
const Scenario* DisplayScenarios(size_t* count);
const Scenario* LibraryCallbackScenarios(size_t* count);

// Runs the scenarios whose name contains one of the comma-separated parts of
// filter (all when empty); prints one line each and the totals. Returns the
// number of failures.
int RunSuite(const std::wstring& stage, const std::wstring& filter);

// Where runs keep their files: E2E_RUNS, else runs\ in a stage folder that
// holds the driver (the developer kit), else a folder next to the stage.
std::wstring RunsFolder(const std::wstring& stage, const wchar_t* leaf);
