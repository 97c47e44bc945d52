#include "bench_commands.h"

#include "dialog_remote.h"
#include "resource.h"
#include "responsiveness.h"
#include "scenario_support.h"
#include "scenarios.h"
#include "text_util.h"

#include <algorithm>
#include <vector>

namespace {
struct Spread {
    double median = 0, min = 0, max = 0;
};

Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty())
        return spread;
    std::sort(values.begin(), values.end());
    spread.min = values.front();
    spread.max = values.back();
    size_t n = values.size();
    spread.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return spread;
}

void PrintLatency(const wchar_t* what, const LatencyFigures& f) {
    Out(L"| %ls | %.1f | %.1f | %.2f | %zu | %zu | %ls |\n", what, f.maxMs, f.p99Ms, f.medianMs,
        f.samples, f.timeouts, f.maxMs < 50.0 && f.timeouts == 0 ? L"met" : L"NOT met");
}

// One start of a program copied into folder, with a copy of the stage's
// library when it imports it; times to visible and, for the tool, to the end
// of the first search. Closes it again.
bool StartOnce(const std::wstring& folder, const std::wstring& source, const wchar_t* exe,
               const std::wstring& stage, bool withLibrary, bool isTool, double& visibleMs,
               double& searchedMs, double& endedMs) {
    const wchar_t* files[] = {exe};
    const wchar_t* library[] = {L"TAMLAISPDLL.DLL"};
    std::wstring error;
    std::wstring sim = JoinPath(folder, L"sim");
    if (!PrepareFolder(folder, source, files, 1, error) || !MakeFolders(sim) ||
        (withLibrary && !CopyFileW(JoinPath(stage, library[0]).c_str(),
                                   JoinPath(folder, library[0]).c_str(), FALSE))) {
        Out(L"bench: cannot prepare %ls %ls\n", folder.c_str(), error.c_str());
        return false;
    }
    ToolProcess process;
    if (!LaunchProgram(JoinPath(folder, exe), sim, process, error) ||
        !WaitForDialog(process, kStartTimeoutMs, error)) {
        Out(L"bench: %ls\n", error.c_str());
        KillProcess(process);
        CloseProcessHandles(process);
        return false;
    }
    visibleMs = process.visibleAtMs - process.launchedAtMs;
    HWND d = process.dialog;
    bool ok = true;
    if (isTool) {
        // The first search has ended when the list is filled and the buttons
        // are back on (the worker turns them off before asking the library).
        ok = WaitFor(
            [&] {
                LRESULT count = 0;
                SendBounded(Control(d, IDC_DEVICE_LIST), CB_GETCOUNT, 0, 0, &count);
                return count > 0 && IsWindowEnabled(Control(d, IDC_CONFIGURE));
            },
            kStartTimeoutMs);
        searchedMs = NowMs() - process.launchedAtMs;
    }
    double closing = NowMs();
    SendBounded(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, nullptr);
    bool ended = WaitForExit(process, 10000);
    endedMs = NowMs() - closing;
    if (!ended) {
        Out(L"bench: %ls did not end\n", exe);
        KillProcess(process);
        ok = false;
    }
    CloseProcessHandles(process);
    return ok;
}

bool StartupFigures(const std::wstring& stage, int runs) {
    std::wstring folder = JoinPath(RunsFolder(stage, L"e2e-bench"), L"startup");
    std::wstring driverFolder = FolderOfThisProgram();
    std::vector<double> toolVisible, toolSearched, floorVisible, toolEnded, floorEnded,
        floorIspVisible;
    // One start of each first, not counted: it loads Wine's own DLLs from disk.
    for (int i = -1; i < runs; ++i) {
        double visible = 0, searched = 0, ended = 0, unused = 0;
        // Alternate so both see the same machine load.
        if (!StartOnce(folder, stage, L"ProgrammerSetup.exe", stage, true, true, visible, searched,
                       ended))
            return false;
        if (i >= 0) {
            toolVisible.push_back(visible);
            toolSearched.push_back(searched);
            toolEnded.push_back(ended);
        }
        if (!StartOnce(folder, driverFolder, L"e2e_floor_dialog.exe", stage, false, false, visible,
                       unused, ended))
            return false;
        if (i >= 0) {
            floorVisible.push_back(visible);
            floorEnded.push_back(ended);
        }
        if (!StartOnce(folder, driverFolder, L"e2e_floor_dialog_isp.exe", stage, true, false,
                       visible, unused, ended))
            return false;
        if (i >= 0)
            floorIspVisible.push_back(visible);
    }
    Spread tv = SpreadOf(toolVisible), ts = SpreadOf(toolSearched), fv = SpreadOf(floorVisible);
    Out(L"\nStart-up, %d runs each after one warm-up start, alternating (ms from "
        L"CreateProcess):\n\n",
        runs);
    Out(L"| measure | median | min | max | median / floor |\n|---|---|---|---|---|\n");
    Out(L"| empty dialog (floor): dialog visible | %.0f | %.0f | %.0f | 1.00 |\n", fv.median,
        fv.min, fv.max);
    Spread iv = SpreadOf(floorIspVisible);
    Out(L"| empty dialog importing TAMLAISPDLL.DLL: dialog visible | %.0f | %.0f | %.0f | %.2f "
        L"|\n",
        iv.median, iv.min, iv.max, iv.median / fv.median);
    Out(L"| tool: dialog visible | %.0f | %.0f | %.0f | %.2f |\n", tv.median, tv.min, tv.max,
        tv.median / fv.median);
    Out(L"| tool: first search finished (list filled) | %.0f | %.0f | %.0f | %.2f |\n", ts.median,
        ts.min, ts.max, ts.median / fv.median);
    Spread te = SpreadOf(toolEnded), fe = SpreadOf(floorEnded);
    Out(L"| empty dialog (floor): process ended after IDCANCEL | %.0f | %.0f | %.0f | 1.00 |\n",
        fe.median, fe.min, fe.max);
    Out(L"| tool: process ended after IDCANCEL | %.0f | %.0f | %.0f | %.2f |\n", te.median, te.min,
        te.max, fe.median > 0 ? te.median / fe.median : 0.0);
    Out(L"\nGoal, tool within 1.3x of the floor (medians): dialog visible %ls (%.2fx), "
        L"first search finished %ls (%.2fx). Against the empty dialog that imports the "
        L"library: %.2fx and %.2fx.\n",
        tv.median <= 1.3 * fv.median ? L"met" : L"NOT met", tv.median / fv.median,
        ts.median <= 1.3 * fv.median ? L"met" : L"NOT met", ts.median / fv.median,
        tv.median / iv.median, ts.median / iv.median);
    return true;
}

bool LatencyFiguresDuringWork(const std::wstring& stage) {
    std::wstring runs = RunsFolder(stage, L"e2e-bench");
    Out(L"\nDialog thread latency, WM_NULL sent every 3 ms (ms):\n\n");
    Out(L"| while | max | p99 | median | samples | time-outs | goal max < 50 ms |\n"
        L"|---|---|---|---|---|---|---|\n");

    ScenarioContext writeContext(L"bench-write", stage, JoinPath(runs, L"write"));
    MakeFolders(writeContext.RunFolder());
    {
        ToolSession s(writeContext);
        if (!s.StartWithTwoDevices("flash-ms 3000\n"))
            return false;
        ResponsivenessProbe probe(s.Dialog(), 3);
        probe.Start();
        if (!s.Click(IDC_CONFIGURE) ||
            !s.WaitForLogLine(L"<1#ISP DEV:3A-01-7F-00-12-C4> config succ", kRunTimeoutMs))
            return false;
        PrintLatency(L"a 3 s write", probe.Stop());
    }

    ScenarioContext stormContext(L"bench-storm", stage, JoinPath(runs, L"storm"));
    MakeFolders(stormContext.RunFolder());
    {
        ToolSession s(stormContext);
        if (!s.StartWithTwoDevices())
            return false;
        ResponsivenessProbe probe(s.Dialog(), 3);
        probe.Start();
        double start = NowMs();
        if (!s.Command("storm 200", 60000) || !s.Sim().WaitForCalls(L"event", 200, 60000))
            return false;
        double took = NowMs() - start;
        PrintLatency(L"a 200-event storm (idle tool, 2 devices)", probe.Stop());
        Out(L"\nThe storm took %.0f ms until the last event had been handled.\n", took);
    }
    return writeContext.Failures() == 0 && stormContext.Failures() == 0;
}
} // namespace

int RunBenchmarks(const std::wstring& stage, int runs) {
    bool ok = LatencyFiguresDuringWork(stage);
    ok = StartupFigures(stage, runs) && ok;
    return ok ? 0 : 1;
}
