#!/usr/bin/env bash
# Runs the developer kit as a person on Windows would, under Wine: packs the
# developer zip of a Windows build, unpacks it into an empty folder and runs
# its verify.cmd with Wine's cmd, no E2E_* variable set (the kit's defaults:
# runs\ beside verify.cmd, the system's DPI). Prints what verify.cmd printed
# and how long it took; fails unless it ends in "verify: PASS".
#
#   scripts/verify-kit.sh [build-dir] [wine-prefix]
#
# build-dir: a built Windows build tree, whichever architecture this host's
# Wine runs (default build/windows). wine-prefix: default build/wineprefix;
# a prefix scripts/e2e.sh has prepared (the dialog font's stand-in, the
# theme, frames drawn by Wine). WINE_LOCALE picks the code page as in
# scripts/wine-env.sh.
set -euo pipefail
if [ $# -gt 2 ] || [[ " $* " == *" -"* ]]; then
    echo "usage: $0 [build-dir] [wine-prefix]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(realpath "${1:-build/windows}")
PREFIX=${2:-${E2E_WINEPREFIX:-$ROOT/build/wineprefix}}
KIT=$BUILD/kit

if [ ! -f "$BUILD/CPackConfig.cmake" ]; then
    echo "verify-kit: $BUILD is no configured Windows build" >&2
    exit 1
fi
rm -rf "$KIT"
mkdir -p "$KIT/package" "$KIT/run"
cpack -G ZIP -B "$KIT/package" --config "$BUILD/CPackConfig.cmake" >"$KIT/cpack.txt" ||
    { cat "$KIT/cpack.txt"; exit 1; }
zip=$(find "$KIT/package" -maxdepth 1 -name '*-developer.zip')
python3 -m zipfile -e "$zip" "$KIT/run"
echo "verify-kit: $(basename "$zip") unpacked in $KIT/run: $(cd "$KIT/run" && echo *)"

# The prefix and loader follow the build's machine: the twin's kit runs in a
# 64-bit prefix through the 64-bit loader.
machine=$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
print("x64" if struct.unpack_from("<H", data, pe + 4)[0] == 0x8664 else "x86")' "$BUILD/stage/ProgrammerSetup.exe")
# shellcheck source=scripts/wine-env.sh
WINE_BUILD_ARCH=$machine source scripts/wine-env.sh "$PREFIX"
wine_prefix_ready
wine_stop
start=$(date +%s%N)
status=0
# Output to a file: a pipe would stay open as long as any program the kit
# started holds its end.
with_display env -u E2E_RUNS -u E2E_EXPECT_DPI -u TAMLASIM_DIR LC_ALL="$WINE_LOCALE" \
    "$WINE" cmd /c "Z:${KIT//\//\\}\\run\\verify.cmd" >"$KIT/verify.txt" 2>&1 || status=$?
seconds=$(( ($(date +%s%N) - start) / 1000000 ))
tr -d '\r' <"$KIT/verify.txt"
printf 'verify-kit: verify.cmd took %d.%03d s under Wine (%s), exit status %d\n' \
    $((seconds / 1000)) $((seconds % 1000)) "$WINE_LOCALE" "$status"
if [ "$status" -ne 0 ] || ! tr -d '\r' <"$KIT/verify.txt" | grep -qx 'verify: PASS'; then
    echo "verify-kit: FAIL (files in $KIT/run/runs)" >&2
    exit 1
fi
