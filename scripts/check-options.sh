#!/usr/bin/env bash
# Runs every documented option of the run and test commands and of the
# scripts' usage lines once, on the builds and Wine prefixes the test command
# has made, and checks what each did:
#   run-tool.sh --demo                          the demo on this host's build
#   HOST_RUNS_32BIT=0 FORCE_XVFB=1 run-tool.sh  the demo on the twin
#   HOST_RUNS_32BIT=0 E2E_ARCH=x86 run-tool.sh  refused, with the cause
#   BUILD_DIR, WINE_PREFIX_DIR                  the demo on another tree, in another prefix
#   E2E_ARCH=x64, e2e.sh's name filter, E2E_ARTIFACTS   one scenario on the twin
#   E2E_PASSES, E2E_BUILD_DIR, E2E_WINEPREFIX   one short pass, another tree, a new prefix
#   an unknown option to each script with a usage line: the usage, exit status 2
# The other tree is the clang build; on a host without 32-bit code, where
# only the twin's tree runs, it is the twin's, named by its absolute path.
set -euo pipefail
if [ $# -gt 0 ]; then
    echo "usage: $0" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$ROOT/build/options-check
HOST=$(bash -c 'source scripts/wine-env.sh "" && wine_probe_32bit && echo "$HOST_RUNS_32BIT"')
if [ "$HOST" = 1 ]; then
    build=build/windows other=build/windows-clang prefix=build/wineprefix arch=x86
    drives="drives the 32-bit exe (build/windows)"
else
    build=build/windows-x64 other=$ROOT/build/windows-x64 prefix=build/wineprefix-x64 arch=x64
    drives="drives the x64 twin"
fi
for tree in "$build" "$other" build/windows-x64; do
    if [ ! -f "$tree/tests/e2e/e2e_driver.exe" ]; then
        echo "check-options: no $tree/tests/e2e/e2e_driver.exe: run after the test command's builds" >&2
        exit 1
    fi
done
rm -rf "$OUT" "$ROOT/build/demo/screenshot.png"
mkdir -p "$OUT"
failed=0

# run NAME STATUS [VAR=value | -u VAR]... COMMAND...: output in $OUT/NAME.txt
run() {
    local name=$1 want=$2 status=0
    shift 2
    echo "== $name: $*"
    env "$@" >"$OUT/$name.txt" 2>&1 </dev/null || status=$?
    if [ "$status" -ne "$want" ]; then
        tail -n 20 "$OUT/$name.txt"
        echo "FAIL $name: exit status $status, not $want"
        failed=1
    fi
}
# has NAME TEXT...: every TEXT is in NAME's output
has() {
    local name=$1 text
    shift
    for text in "$@"; do
        grep -qF -- "$text" "$OUT/$name.txt" || { echo "FAIL $name: no '$text'"; failed=1; }
    done
}
# file_ok NAME PATH: PATH was written
file_ok() {
    [ -s "$2" ] || { echo "FAIL $1: no $2"; failed=1; }
}
demo_done=("config succ" "result:         well formed" "close: ProgrammerSetup.exe ended")

for script in run-tool test-all e2e verify-kit repro-check bench check-options; do
    # A script that took the option for an argument would start its work.
    run "unknown-$script" 2 timeout 60 bash "scripts/$script.sh" --no-such-option
    has "unknown-$script" "usage: scripts/$script.sh"
done

run demo 0 bash scripts/run-tool.sh --demo
has demo "run-tool: $drives" "== decoded image $ROOT/$build/stage/demo/dumps/" "${demo_done[@]}" \
    "screenshot: $ROOT/build/demo/screenshot.png"
file_ok demo "$ROOT/build/demo/screenshot.png"

run twin 0 -u HOST_32BIT_CAUSE HOST_RUNS_32BIT=0 FORCE_XVFB=1 bash scripts/run-tool.sh
has twin "drives the x64 twin (build/windows-x64, /usr/lib/wine/wine64): this host runs no 32-bit code (HOST_RUNS_32BIT=0 given)" \
    "== decoded image $ROOT/build/windows-x64/stage/demo/dumps/" "${demo_done[@]}"

run x86-refused 1 -u HOST_32BIT_CAUSE HOST_RUNS_32BIT=0 E2E_ARCH=x86 bash scripts/run-tool.sh
has x86-refused "E2E_ARCH=x86 asks for the 32-bit exe, but this host runs no 32-bit code (HOST_RUNS_32BIT=0 given)"

# The end-to-end suite's English prefix, which is ready.
run overrides 0 BUILD_DIR="$other" WINE_PREFIX_DIR="$prefix-en_US" bash scripts/run-tool.sh --demo
has overrides "runs $(realpath "$other")/stage/ProgrammerSetup.exe in the Wine prefix $ROOT/$prefix-en_US" \
    "== decoded image $(realpath "$other")/stage/demo/dumps/" "${demo_done[@]}"

run e2e-x64 0 E2E_ARCH=x64 E2E_ARTIFACTS="$OUT/artifacts-x64" bash scripts/e2e.sh display-texts-size-and-fit
has e2e-x64 "e2e: drives the x64 twin (build/windows-x64, /usr/lib/wine/wine64): E2E_ARCH=x64 forces it" \
    "== pass cp936-x64 (x64 exe" "1 passed, 0 failed"
file_ok e2e-x64 "$OUT/artifacts-x64/dialog-cp936-x64.png"

# A new prefix: the pass's prefix is E2E_WINEPREFIX with the pass's suffix.
suffix="" winearch=win32
[ "$arch" = x64 ] && suffix=-x64 winearch=win64
run e2e-passes 0 E2E_PASSES=en_US-144 E2E_BUILD_DIR="$other" E2E_WINEPREFIX="$OUT/prefix" \
    E2E_ARTIFACTS="$OUT/artifacts" bash scripts/e2e.sh
has e2e-passes "== pass en_US-144$suffix ($arch exe, LC_ALL=en_US.UTF-8 for Wine, 144 DPI)" \
    "wine: creating $winearch prefix $OUT/prefix-en_US-144 (once)" " passed, 0 failed"
file_ok e2e-passes "$OUT/artifacts/dialog-en_US-144$suffix.png"
! grep -q "== pass cp936\|== the developer kit" "$OUT/e2e-passes.txt" || { echo "FAIL e2e-passes: more than E2E_PASSES ran"; failed=1; }

[ "$failed" -eq 0 ] && echo "check-options: every option did what it documents (outputs in $OUT)"
exit "$failed"
