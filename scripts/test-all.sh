#!/usr/bin/env bash
# Runs every test of the project on a Debian machine, installing whatever is
# missing first: native unit tests under ASan+UBSan and under TSan, a bounded
# fuzzing run, the Windows build with GCC and with clang, its x64 twin, and
# the end-to-end suite under Wine. Where the host runs no 32-bit code, the
# 32-bit exe gets its static checks only and everything under Wine runs on
# the twin (scripts/wine-env.sh decides; the summary says which). Last, every
# documented option of the scripts runs once (scripts/check-options.sh).
set -euo pipefail
if [ $# -gt 0 ]; then
    echo "usage: $0 (no arguments)" >&2
    exit 2
fi
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${FUZZ_SECONDS:-30}

step() { printf '\n==== %s\n' "$*"; }

step "dependencies"
bash scripts/install-deps.sh
# Probed once here; the scripts and checks below inherit the answer. (In a
# subshell: this shell must not keep the 32-bit prefix's Wine variables,
# or the twin's checks would inherit them.)
eval "$(bash -c 'source scripts/wine-env.sh "" && wine_probe_32bit && declare -p HOST_RUNS_32BIT HOST_32BIT_CAUSE')"
export HOST_RUNS_32BIT HOST_32BIT_CAUSE

step "shellcheck of the scripts"
shellcheck -S warning scripts/*.sh cmake/*.sh .ci/run

for preset in native-asan native-tsan; do
    step "native tests ($preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

if [ -d tests/fuzz ]; then
    step "fuzzing (${fuzz_seconds} s per target)"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j "$jobs"
    for target in build/fuzz/tests/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        corpus="build/fuzz/corpus/$(basename "$target")"
        mkdir -p "$corpus"
        "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
    done
fi

step "Windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
if [ -f build/windows/CTestTestfile.cmake ]; then
    step "checks of the Windows build"
    ctest --test-dir build/windows --output-on-failure
fi
step "the release builds to the same bytes (a second, clean build)"
bash scripts/repro-check.sh build/windows

# The second compiler: the same tree and checks, the tool run under Wine by
# its probes; the end-to-end suite runs once, on the GCC build.
step "Windows build with clang"
cmake --preset windows-clang >/dev/null
cmake --build --preset windows-clang -j "$jobs"
step "checks of the clang Windows build"
ctest --test-dir build/windows-clang --output-on-failure

# The x64 twin: the same tree and checks, run under Wine's 64-bit loader.
step "Windows x64 twin"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$jobs"
step "checks of the Windows x64 twin"
ctest --test-dir build/windows-x64 --output-on-failure

if [ -x scripts/e2e.sh ]; then
    step "end-to-end tests under Wine"
    bash scripts/e2e.sh
    step "the documented options of the scripts"
    bash scripts/check-options.sh
fi

step "all tests passed"
if [ "$HOST_RUNS_32BIT" != 1 ]; then
    echo "the 32-bit exe was checked statically only: this host runs no 32-bit code ($HOST_32BIT_CAUSE);"
    echo "everything under Wine ran on the x64 twin"
elif [ "${E2E_ARCH:-}" = x64 ]; then
    echo "E2E_ARCH=x64: the end-to-end suite ran on the x64 twin only, not on the 32-bit exe"
fi
