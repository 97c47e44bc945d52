#!/usr/bin/env bash
# Runs the end-to-end suite: the real ProgrammerSetup.exe with the stand-in
# TAMLAISPDLL.DLL under Wine, on a private virtual display, driven by
# e2e_driver.exe. Failure screenshots end up as PNG under build/e2e-artifacts/.
#
#   scripts/e2e.sh [name-filter]
#
# E2E_BUILD_DIR (default build/windows) and E2E_WINEPREFIX (default
# build/wineprefix), E2E_ARTIFACTS (default build/e2e-artifacts) let a
# second copy run beside the shared one.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

BUILD=${E2E_BUILD_DIR:-$ROOT/build/windows}
STAGE=$BUILD/stage
DRIVER=$BUILD/tests/e2e/e2e_driver.exe
ARTIFACTS=${E2E_ARTIFACTS:-$ROOT/build/e2e-artifacts}
RUNS=$BUILD/e2e-runs

# The test command builds the windows preset just before; build only when
# that has not happened.
if [ ! -f "$STAGE/ProgrammerSetup.exe" ] || [ ! -f "$STAGE/TAMLAISPDLL.DLL" ] || [ ! -f "$DRIVER" ]; then
    cmake --preset windows -B "$BUILD" >/dev/null
    cmake --build "$BUILD" -j 2
fi

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh "${E2E_WINEPREFIX:-$ROOT/build/wineprefix}"
export FORCE_XVFB=1
wine_prefix_ready
wine_stop
wineserver -w 2>/dev/null || true
# Stop this prefix's Wine however the suite ends.
trap wine_stop EXIT

rm -rf "$ARTIFACTS" "$RUNS"
mkdir -p "$ARTIFACTS"
# Drive Z: is the Unix root in every prefix. (winepath would start this
# prefix's Wine without the virtual display, and the tool started later
# under the display then fails to come up.)
stage_win="Z:${STAGE//\//\\}"

status=0
with_display wine "$DRIVER" suite "$stage_win" ${1:+"$1"} || status=$?

# Screenshots of failed scenarios, as PNG.
if [ -d "$RUNS" ]; then
    while IFS= read -r -d '' bmp; do
        name=$(basename "$(dirname "$bmp")")
        png="$ARTIFACTS/$name.png"
        if convert "$bmp" "$png" 2>/dev/null; then
            echo "screenshot: $png"
        else
            cp "$bmp" "$ARTIFACTS/$name.bmp"
            echo "screenshot: $ARTIFACTS/$name.bmp"
        fi
    done < <(find "$RUNS" -name failure.bmp -print0)
fi
exit "$status"
