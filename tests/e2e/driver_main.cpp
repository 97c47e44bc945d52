// e2e_driver: drives ProgrammerSetup.exe and its stand-in library from
// outside, under Wine or Windows.
//   e2e_driver suite <stage dir> [name-filter]
//   e2e_driver demo <stage dir>
//   e2e_driver close
//   e2e_driver bench <stage dir> [start-up runs]
//   e2e_driver facts <stage dir>
#include "bench_commands.h"
#include "demo_commands.h"
#include "process_facts.h"
#include "scenarios.h"
#include "text_util.h"
#include "tool_process.h"

#include <cwchar>
#include <cwctype>

namespace {
int Usage() {
    Out(L"usage: e2e_driver suite <stage dir> [name-filter]\n"
        L"       e2e_driver demo <stage dir>\n"
        L"       e2e_driver close\n"
        L"       e2e_driver bench <stage dir> [start-up runs]\n"
        L"       e2e_driver facts <stage dir>\n");
    return 2;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes and screen pictures in real pixels, at any DPI.
    SetProcessDPIAware();
    if (argc < 2)
        return Usage();
    std::wstring command = argv[1];
    // The tool and the library get paths they can use from their own folder.
    std::wstring stage = argc >= 3 ? FullPath(argv[2]) : L"";
    if (command == L"suite" && (argc == 3 || argc == 4))
        return RunSuite(stage, argc == 4 ? argv[3] : L"") == 0 ? 0 : 1;
    if (command == L"demo" && argc == 3)
        return RunDemo(stage);
    if (command == L"facts" && argc == 3)
        return RunFacts(stage);
    if (command == L"close" && argc == 2)
        return CloseRunningTool();
    if (command == L"bench" && (argc == 3 || argc == 4)) {
        int runs = argc == 4 ? _wtoi(argv[3]) : 10;
        return RunBenchmarks(stage, runs > 0 ? runs : 10);
    }
    return Usage();
}
