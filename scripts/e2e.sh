#!/usr/bin/env bash
# Runs the end-to-end suite: the real ProgrammerSetup.exe with the stand-in
# TAMLAISPDLL.DLL under Wine, on a private virtual display, driven by
# e2e_driver.exe. Three passes, each in a prefix of its own:
#   cp936      code page 936, 96 DPI: every scenario
#   en_US      code page 1252, 96 DPI: the scenarios that read the Chinese
#              texts back (start-up, ports, the "select a device" line,
#              every option, a failed write) and the display checks
#   en_US-144  code page 1252, 144 DPI: the display checks
# Every prefix uses Wine's own "Light" theme (light.msstyles, from Wine's
# packages) and replaces the dialog's font 宋体 by WenQuanYi Micro Hei, which
# stands for it here as SimSun does on Windows. Wine draws the window frames
# itself (Managed=N; there is no window manager), with its Marlett font for
# the caption buttons: that puts the caption on the pictures, and spares
# every start of the tool Wine's wait for a window manager (about 2 s).
# Failure screenshots and pictures of the dialog end up as PNG under
# build/e2e-artifacts/; last, the release zip's exe is compared with the exe
# the passes ran, and the developer zip's kit runs its verify.cmd from an
# empty folder under Wine's cmd in the en_US prefix (scripts/verify-kit.sh),
# as on an English Windows.
#
#   scripts/e2e.sh [name-filter]     (comma-separated parts; cp936 pass only)
#   E2E_PASSES="en_US-144" scripts/e2e.sh     (some passes only)
#
# E2E_BUILD_DIR (default build/windows), E2E_WINEPREFIX (default
# build/wineprefix; the en_US prefixes get its name with a suffix) and
# E2E_ARTIFACTS (default build/e2e-artifacts) let a second copy run beside
# the shared one.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

BUILD=${E2E_BUILD_DIR:-$ROOT/build/windows}
STAGE=$BUILD/stage
DRIVER=$BUILD/tests/e2e/e2e_driver.exe
ARTIFACTS=${E2E_ARTIFACTS:-$ROOT/build/e2e-artifacts}
RUNS=$BUILD/e2e-runs
PREFIX=${E2E_WINEPREFIX:-$ROOT/build/wineprefix}
EN_US_SCENARIOS="startup-default-devices,startup-no-devices,configure-every-option,configure-failed-write,display-"

# The test command builds the windows preset just before; build only when
# that has not happened.
if [ ! -f "$STAGE/ProgrammerSetup.exe" ] || [ ! -f "$STAGE/TAMLAISPDLL.DLL" ] || [ ! -f "$DRIVER" ]; then
    cmake --preset windows -B "$BUILD" >/dev/null
    cmake --build "$BUILD" -j 2
fi
tested_sum=$(sha256sum "$STAGE/ProgrammerSetup.exe" | cut -d' ' -f1)

# Registry settings of a prefix, applied once (a stamp file remembers them).
apply_prefix_settings() {
    local dpi=$1 hex stamp reg marlett=/usr/share/wine/fonts/marlett.ttf
    # This Wine does not load the fonts of its own package by itself; a
    # font in the prefix's Fonts folder it does.
    if [ -f "$marlett" ]; then
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp -n "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    hex=$(printf '%08x' "$dpi")
    stamp="$WINEPREFIX/.e2e-settings-$dpi"
    [ -f "$stamp" ] && return 0
    reg=$(mktemp --suffix=.reg)
    # regedit reads UTF-16 .reg files, so the font's Chinese name survives
    # any code page.
    iconv -f UTF-8 -t UTF-16 >"$reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$hex

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]
"LogPixels"=dword:$hex

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
"LogPixels"=dword:$hex

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"宋体"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager]
"ThemeActive"="1"
"DllName"="C:\\\\windows\\\\resources\\\\themes\\\\light\\\\light.msstyles"
"ColorName"="Blue"
"SizeName"="NormalSize"
EOF
    with_display env LC_ALL="$WINE_LOCALE" wine regedit /S "Z:${reg//\//\\}"
    wineserver -w 2>/dev/null || true
    rm -f "$reg"
    touch "$stamp"
}

# Screenshots of failed scenarios and pictures of the dialog, as PNG named
# after the pass.
collect_pictures() {
    local pass=$1 runs=$2 bmp name png
    [ -d "$runs" ] || return 0
    while IFS= read -r -d '' bmp; do
        name=$(basename "$(dirname "$bmp")")
        case $(basename "$bmp") in
            display.bmp) png="$ARTIFACTS/dialog-$pass.png" ;;
            *) png="$ARTIFACTS/$pass-$name.png" ;;
        esac
        if convert "$bmp" "$png" 2>/dev/null; then
            echo "picture: $png"
        else
            cp "$bmp" "${png%.png}.bmp"
            echo "picture: ${png%.png}.bmp"
        fi
    done < <(find "$runs" \( -name failure.bmp -o -name display.bmp \) -print0)
}

# run_pass NAME PREFIX LOCALE DPI FILTER
run_pass() {
    local pass=$1 prefix=$2 locale=$3 dpi=$4 filter=$5 runs status=0
    echo "== pass $pass (LC_ALL=$locale for Wine, $dpi DPI)"
    # shellcheck source=scripts/wine-env.sh
    WINE_LOCALE=$locale source scripts/wine-env.sh "$prefix"
    wine_prefix_ready
    wine_stop
    wineserver -w 2>/dev/null || true
    apply_prefix_settings "$dpi"
    runs=$RUNS/$pass
    # Drive Z: is the Unix root in every prefix. (winepath would start this
    # prefix's Wine without the virtual display, and the tool started later
    # under the display then fails to come up.)
    with_display env LC_ALL="$locale" E2E_EXPECT_DPI="$dpi" E2E_RUNS="Z:${runs//\//\\}" \
        wine "$DRIVER" suite "Z:${STAGE//\//\\}" ${filter:+"$filter"} || status=$?
    collect_pictures "$pass" "$runs"
    return "$status"
}

rm -rf "$ARTIFACTS" "$RUNS"
mkdir -p "$ARTIFACTS"
# Stop the prefixes' Wine however the suite ends.
trap 'for p in "$PREFIX" "$PREFIX-en_US" "$PREFIX-en_US-144"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done' EXIT

passes=" ${E2E_PASSES:-cp936 en_US en_US-144} "
[ -n "${1:-}" ] && passes=" cp936 "
status=0
if [[ $passes == *" cp936 "* ]]; then
    run_pass cp936 "$PREFIX" zh_CN.UTF-8 96 "${1:-}" || status=1
fi
if [[ $passes == *" en_US "* ]]; then
    run_pass en_US "$PREFIX-en_US" en_US.UTF-8 96 "$EN_US_SCENARIOS" || status=1
fi
if [[ $passes == *" en_US-144 "* ]]; then
    run_pass en_US-144 "$PREFIX-en_US-144" en_US.UTF-8 144 "display-" || status=1
fi
if [ -z "${1:-}" ] && [ -z "${E2E_PASSES:-}" ]; then

    echo "== the release package holds the exe the passes ran"
    if [ "$(sha256sum "$STAGE/ProgrammerSetup.exe" | cut -d' ' -f1)" != "$tested_sum" ]; then
        echo "FAIL the staged exe changed while the suite ran" >&2
        status=1
    elif ! python3 tests/windows/check_package.py --build "$BUILD" --cpack cpack --with-developer \
        --tested-exe "$STAGE/ProgrammerSetup.exe"; then
        status=1
    fi
    echo "== the developer kit, unpacked in an empty folder, under Wine's cmd"
    WINE_LOCALE=en_US.UTF-8 bash scripts/verify-kit.sh "$BUILD" "$PREFIX-en_US" || status=1
fi
exit "$status"
