#!/usr/bin/env bash
# Runs every test of the project on a Debian machine, installing whatever is
# missing first: native unit tests under ASan+UBSan and under TSan, a bounded
# fuzzing run, the Windows build with GCC and with clang, and the end-to-end
# suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${FUZZ_SECONDS:-30}

step() { printf '\n==== %s\n' "$*"; }

step "dependencies"
bash scripts/install-deps.sh

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

if [ -x scripts/e2e.sh ]; then
    step "end-to-end tests under Wine"
    bash scripts/e2e.sh
fi

step "all tests passed"
