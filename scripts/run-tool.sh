#!/usr/bin/env bash
# Builds the Windows tool and runs it under Wine.
#
#   scripts/run-tool.sh          with a display: starts the tool for you to use
#   scripts/run-tool.sh --demo   (or without a display, or FORCE_XVFB=1): a short
#                                scripted demo on a virtual display against the
#                                stand-in library, printing the tool's log, the
#                                decoded image it wrote and a screenshot path
# It runs the 32-bit exe where this host runs 32-bit code, else the x64
# twin (build/windows-x64) through Wine's 64-bit loader; scripts/wine-env.sh
# decides, and E2E_ARCH=x64 forces the twin. BUILD_DIR (default
# build/windows, or build/windows-x64) and WINE_PREFIX_DIR (default
# build/wineprefix, or build/wineprefix-x64) choose another build tree and
# prefix; a build tree that is already configured is built as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

# The demo's steps; run on the (virtual) display, so every Wine program,
# winepath included, sees it.
demo_on_display() {
    local stage_win dump_win dump shot status=0
    # shellcheck source=wine-env.sh
    source scripts/wine-env.sh "$WINEPREFIX"
    stage_win=$(wine_run "$WINE" winepath -w "$STAGE")
    # The driver leaves the tool open and names the newest image dump last.
    # Its output goes to a file, not a pipe: the tool it starts keeps the
    # driver's output handles open, so a pipe would never see its end.
    wine_run "$WINE" "$DRIVER" demo "$stage_win" >build/demo/driver.txt
    tr -d '\r' <build/demo/driver.txt
    dump_win=$(tr -d '\r' <build/demo/driver.txt | sed -n 's/^dump: //p' | tail -n 1)
    if [ -n "$dump_win" ]; then
        dump=$(wine_run "$WINE" winepath -u "$dump_win")
        echo
        echo "== decoded image $dump"
        python3 scripts/decode-image.py "$dump" --firmware res/firmware.bin || status=1
    else
        echo "run-tool: the driver named no image dump" >&2
        status=1
    fi
    shot=$ROOT/build/demo/screenshot.png
    import -window root "$shot"
    echo "screenshot: $shot"
    wine_run "$WINE" "$DRIVER" close
    return "$status"
}

demo=0
case "$#:${1:-}" in
    1:--demo) demo=1 ;;
    1:--demo-on-display) demo=2 ;; # internal: the demo's steps, already on a display
    0:) ;;
    *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac
if [ "$demo" -eq 0 ] && { [ -z "${DISPLAY:-}" ] || [ -n "${FORCE_XVFB:-}" ]; }; then
    demo=1
fi

if [ "$demo" -eq 2 ]; then
    demo_on_display
    exit 0
fi

bash scripts/install-deps.sh
# shellcheck source=wine-env.sh
source scripts/wine-env.sh ""
wine_choose_build run-tool
if [ "$WINE_DRIVE_ARCH" = x64 ]; then
    preset=windows-x64
    prefix=${WINE_PREFIX_DIR:-build/wineprefix-x64}
else
    preset=windows
    prefix=${WINE_PREFIX_DIR:-build/wineprefix}
fi
# The demo's steps run in a second bash, which sources wine-env.sh again.
export WINE_BUILD_ARCH=$WINE_DRIVE_ARCH
BUILD=$(realpath -m "${BUILD_DIR:-build/$preset}")
# The preset would override a given tree's own configuration (another
# compiler's, say).
if [ -z "${BUILD_DIR:-}" ] || [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$BUILD" >/dev/null
fi
cmake --build "$BUILD" -j 2

STAGE=$BUILD/stage
DRIVER=$BUILD/tests/e2e/e2e_driver.exe
if [ ! -f "$STAGE/ProgrammerSetup.exe" ]; then
    echo "run-tool: $STAGE/ProgrammerSetup.exe was not built" >&2
    exit 1
fi

# shellcheck source=wine-env.sh
source scripts/wine-env.sh "$prefix"
echo "run-tool: runs $STAGE/ProgrammerSetup.exe in the Wine prefix $WINEPREFIX"
wine_prefix_ready
wine_stop
trap wine_stop EXIT

if [ "$demo" -eq 0 ]; then
    if [ ! -f "$STAGE/TAMLAISPDLL.DLL" ]; then
        echo "run-tool: no TAMLAISPDLL.DLL in $STAGE; place the programmer maker's library there" >&2
        exit 1
    fi
    wine_run "$WINE" "$STAGE/ProgrammerSetup.exe"
    exit 0
fi

if [ ! -f "$DRIVER" ]; then
    echo "run-tool: the demo needs $DRIVER, which this build did not make" >&2
    exit 1
fi

mkdir -p build/demo
export STAGE DRIVER ROOT
with_display bash "$ROOT/scripts/run-tool.sh" --demo-on-display
