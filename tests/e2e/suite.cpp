#include "scenarios.h"

#include "text_util.h"
#include "tool_process.h"

namespace {
bool SameFolder(std::wstring a, std::wstring b) {
    for (std::wstring* path : {&a, &b}) {
        *path = FullPath(*path);
        while (path->size() > 3 && (path->back() == L'\\' || path->back() == L'/'))
            path->pop_back();
    }
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool Selected(const std::wstring& name, const std::wstring& filter) {
    if (filter.empty())
        return true;
    size_t start = 0;
    for (;;) {
        size_t comma = filter.find(L',', start);
        std::wstring part =
            filter.substr(start, comma == std::wstring::npos ? comma : comma - start);
        if (!part.empty() && Contains(name, part))
            return true;
        if (comma == std::wstring::npos)
            return false;
        start = comma + 1;
    }
}
} // namespace

std::wstring RunsFolder(const std::wstring& stage, const wchar_t* leaf) {
    // Each pass of the e2e script (code page, DPI) keeps its own files.
    wchar_t given[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"E2E_RUNS", given, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return FullPath(given);
    // The developer kit: the stage folder holds the driver, and the runs go
    // in it, beside verify.cmd.
    if (SameFolder(stage, FolderOfThisProgram()))
        return JoinPath(stage, L"runs");
    std::wstring trimmed = stage;
    while (trimmed.size() > 3 && (trimmed.back() == L'\\' || trimmed.back() == L'/'))
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of(L"\\/");
    std::wstring parent = slash == std::wstring::npos ? L"." : trimmed.substr(0, slash);
    return JoinPath(parent, leaf);
}

int RunSuite(const std::wstring& stage, const std::wstring& filter) {
    const Scenario* (*groups[])(size_t*) = {StartupScenarios, ConfigureScenarios,
                                            EventScenarios,   DialogScenarios,
                                            DisplayScenarios, LibraryCallbackScenarios};
    std::wstring runs = RunsFolder(stage, L"e2e-runs");
    int passed = 0;
    int failed = 0;
    double suiteStart = NowMs();
    for (auto group : groups) {
        size_t count = 0;
        const Scenario* scenarios = group(&count);
        for (size_t i = 0; i < count; ++i) {
            const Scenario& scenario = scenarios[i];
            if (!Selected(scenario.name, filter))
                continue;
            std::wstring folder = JoinPath(runs, scenario.name);
            RemoveTree(folder);
            MakeFolders(folder);
            ScenarioContext context(scenario.name, stage, folder);
            double start = NowMs();
            scenario.run(context);
            double seconds = (NowMs() - start) / 1000.0;
            if (context.Failures() == 0) {
                ++passed;
                Out(L"PASS %-34ls %6.2f s\n", scenario.name, seconds);
            } else {
                ++failed;
                Out(L"FAIL %-34ls %6.2f s  (%d failed checks, files in %ls)\n", scenario.name,
                    seconds, context.Failures(), folder.c_str());
            }
        }
    }
    Out(L"suite time %.1f s\n", (NowMs() - suiteStart) / 1000.0);
    if (passed + failed == 0)
        Out(L"no scenario matches \"%ls\"\n", filter.c_str());
    Out(L"%d passed, %d failed\n", passed, failed);
    // Running nothing is not a success.
    return passed + failed == 0 ? 1 : failed;
}
