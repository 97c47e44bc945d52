#!/usr/bin/env bash
# Runs the end-to-end suite: the real ProgrammerSetup.exe with the stand-in
# TAMLAISPDLL.DLL under Wine, on a private virtual display, driven by
# e2e_driver.exe. Three passes, each in a prefix of its own:
#   cp936      code page 936, 96 DPI: every scenario
#   en_US      code page 1252, 96 DPI: the scenarios that read the Chinese
#              texts back (start-up, ports, the "select a device" line,
#              every option, a failed write) and the display checks
#   en_US-144  code page 1252, 144 DPI: the display checks
# Which build they drive is decided once (scripts/wine-env.sh): where this
# host runs 32-bit code, the 32-bit exe (build/windows), followed by one
# short pass on the x64 twin (x64-twin: a few scenarios under code page 936,
# so the twin never rots); where it runs none, the x64 twin
# (build/windows-x64) through Wine's 64-bit loader, in 64-bit prefixes of
# its own. E2E_ARCH=x64 forces the twin, E2E_ARCH=x86 the 32-bit exe.
# Every prefix uses Wine's own "Light" theme (light.msstyles, from Wine's
# packages) and replaces the dialog's font 宋体 by WenQuanYi Micro Hei, which
# stands for it here as SimSun does on Windows. Wine draws the window frames
# itself (Managed=N; there is no window manager), with its Marlett font for
# the caption buttons: that puts the caption on the pictures, and spares
# every start of the tool Wine's wait for a window manager (about 2 s).
# Failure screenshots and pictures of the dialog end up as PNG under
# build/e2e-artifacts/; last, when the passes ran the 32-bit exe, the
# release zip's exe is compared with the exe they ran, and the developer
# zip's kit runs its verify.cmd from an empty folder under Wine's cmd in the
# en_US prefix (scripts/verify-kit.sh), as on an English Windows.
#
#   scripts/e2e.sh [name-filter]     (comma-separated parts; cp936 pass only)
#   E2E_PASSES="en_US-144" scripts/e2e.sh     (some passes only; x64-twin names the twin's)
#
# E2E_BUILD_DIR (default build/windows, or build/windows-x64 for the twin),
# E2E_WINEPREFIX (default build/wineprefix, or build/wineprefix-x64; the
# en_US prefixes get its name with a suffix) and E2E_ARTIFACTS (default
# build/e2e-artifacts) let a second copy run beside the shared one.
set -euo pipefail
if [ $# -gt 1 ] || [[ " $* " == *" -"* ]]; then
    echo "usage: $0 [name-filter]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh ""
wine_choose_build e2e twin-pass
ARCH=$WINE_DRIVE_ARCH
if [ "$ARCH" = x64 ]; then
    BUILD=${E2E_BUILD_DIR:-$ROOT/build/windows-x64}
    PREFIX=${E2E_WINEPREFIX:-$ROOT/build/wineprefix-x64}
else
    BUILD=${E2E_BUILD_DIR:-$ROOT/build/windows}
    PREFIX=${E2E_WINEPREFIX:-$ROOT/build/wineprefix}
fi
TWIN_BUILD=$ROOT/build/windows-x64
TWIN_PREFIX=$ROOT/build/wineprefix-x64
STAGE=$BUILD/stage
ARTIFACTS=${E2E_ARTIFACTS:-$ROOT/build/e2e-artifacts}
EN_US_SCENARIOS="startup-default-devices,startup-no-devices,configure-every-option,configure-failed-write,display-"
# The twin's short pass: the option record and its callback field, device
# events through that callback, a write, callbacks inside library calls, a
# press while the library holds its lock before it calls back, and the
# dialog's texts and size.
TWIN_SCENARIOS="startup-default-devices,configure-every-option,events-plug-during-write,callbacks-in-calls-find-devices,callbacks-under-lock-press-while-held,display-texts-size-and-fit"

# The test command builds the presets just before; build only when that has
# not happened.
ensure_built() {
    local preset=$1 build=$2
    if [ ! -f "$build/stage/ProgrammerSetup.exe" ] || [ ! -f "$build/stage/TAMLAISPDLL.DLL" ] ||
        [ ! -f "$build/tests/e2e/e2e_driver.exe" ]; then
        cmake --preset "$preset" -B "$build" >/dev/null
        cmake --build "$build" -j 2
    fi
}
if [ "$ARCH" = x64 ]; then
    ensure_built windows-x64 "$BUILD"
else
    ensure_built windows "$BUILD"
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
    if ! with_display env LC_ALL="$WINE_RUN_LOCALE" "$WINE" regedit /S "Z:${reg//\//\\}"; then
        echo "e2e: regedit could not apply the settings to $WINEPREFIX" >&2
        rm -f "$reg"
        return 1
    fi
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

# run_pass NAME ARCH BUILD PREFIX LOCALE DPI FILTER
run_pass() {
    local pass=$1 arch=$2 build=$3 prefix=$4 locale=$5 dpi=$6 filter=$7 runs status=0
    echo "== pass $pass ($arch exe, LC_ALL=$locale for Wine, $dpi DPI)"
    # shellcheck source=scripts/wine-env.sh
    WINE_BUILD_ARCH=$arch
    WINE_LOCALE=$locale
    source scripts/wine-env.sh "$prefix"
    used_prefixes+=("$prefix")
    # Called under ||, so set -e does not stop this function: stop here.
    wine_prefix_ready || return 1
    wine_stop
    wineserver -w 2>/dev/null || true
    apply_prefix_settings "$dpi" || return 1
    runs=$build/e2e-runs/$pass
    # Drive Z: is the Unix root in every prefix. (winepath would start this
    # prefix's Wine without the virtual display, and the tool started later
    # under the display then fails to come up.)
    with_display env LC_ALL="$locale" E2E_EXPECT_DPI="$dpi" E2E_RUNS="Z:${runs//\//\\}" \
        "$WINE" "$build/tests/e2e/e2e_driver.exe" suite "Z:${build//\//\\}\\stage" ${filter:+"$filter"} || status=$?
    collect_pictures "$pass" "$runs"
    return "$status"
}

rm -rf "$ARTIFACTS" "$BUILD/e2e-runs" "$TWIN_BUILD/e2e-runs/x64-twin"
mkdir -p "$ARTIFACTS"
# Stop the prefixes' Wine however the suite ends.
used_prefixes=()
# shellcheck disable=SC2154 # p is the loop's variable, assigned when the trap runs
trap 'for p in "${used_prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done' EXIT

# The twin's passes carry its name in their pictures and run folders.
suffix=""
[ "$ARCH" = x64 ] && suffix=-x64
passes=" ${E2E_PASSES:-cp936 en_US en_US-144 x64-twin} "
[ -n "${1:-}" ] && passes=" cp936 "
status=0
ran=0
if [[ $passes == *" cp936 "* ]]; then
    ran=$((ran + 1))
    run_pass "cp936$suffix" "$ARCH" "$BUILD" "$PREFIX" zh_CN.UTF-8 96 "${1:-}" || status=1
fi
if [[ $passes == *" en_US "* ]]; then
    ran=$((ran + 1))
    run_pass "en_US$suffix" "$ARCH" "$BUILD" "$PREFIX-en_US" en_US.UTF-8 96 "$EN_US_SCENARIOS" || status=1
fi
if [[ $passes == *" en_US-144 "* ]]; then
    ran=$((ran + 1))
    run_pass "en_US-144$suffix" "$ARCH" "$BUILD" "$PREFIX-en_US-144" en_US.UTF-8 144 "display-" || status=1
fi
if [ "$WINE_TWIN_PASS" = 1 ] && [[ $passes == *" x64-twin "* ]]; then
    ran=$((ran + 1))
    ensure_built windows-x64 "$TWIN_BUILD"
    twin_start=$SECONDS
    run_pass x64-twin x64 "$TWIN_BUILD" "$TWIN_PREFIX" zh_CN.UTF-8 96 "$TWIN_SCENARIOS" || status=1
    echo "x64 twin pass: $((SECONDS - twin_start)) s"
fi
# A selection that runs nothing here (the twin's own pass where the twin is
# all that runs, say) is not a pass.
if [ "$ran" = 0 ]; then
    echo "FAIL no pass ran: E2E_PASSES='${E2E_PASSES:-}' names none that runs on this host" >&2
    status=1
fi
if [ -z "${1:-}" ] && [ -z "${E2E_PASSES:-}" ]; then
    echo "== the release package holds the exe the passes ran"
    if [ "$ARCH" = x64 ]; then
        # The release zip carries the 32-bit exe, which these passes did not
        # run; its contents are checked by ctest in build/windows.
        echo "not compared: the passes ran the x64 twin, not the release exe"
    elif [ "$(sha256sum "$STAGE/ProgrammerSetup.exe" | cut -d' ' -f1)" != "$tested_sum" ]; then
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
