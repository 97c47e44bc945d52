#!/usr/bin/env bash
# Checks that the release builds to the same bytes: a clean build of what the
# zips carry, in a second folder and at another time, must give the same
# SHA256SUMS (the exe and both zips) as the reference build.
#
#   scripts/repro-check.sh [reference-build-dir]
#
# The reference (default build/windows) is packed as it is, so build it
# clean first to compare two clean builds:
#   rm -rf build/windows && cmake --preset windows && cmake --build --preset windows -j2 &&
#   sleep 60 && bash scripts/repro-check.sh
# The second build goes to build/repro-check (emptied first).
set -euo pipefail
if [ $# -gt 1 ] || [[ " $* " == *" -"* ]]; then
    echo "usage: $0 [reference-build-dir]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
REFERENCE=$(realpath "${1:-build/windows}")
SECOND=$ROOT/build/repro-check
jobs=$(nproc 2>/dev/null || echo 2)

if [ ! -f "$REFERENCE/source-date-epoch" ]; then
    echo "repro-check: $REFERENCE is no built Windows build" >&2
    exit 1
fi
pack() {
    rm -rf "$1/repro-package"
    cpack -G ZIP -B "$1/repro-package" --config "$1/CPackConfig.cmake" >"$1/repro-cpack.txt" ||
        { cat "$1/repro-cpack.txt"; return 1; }
}

start=$(date +%s)
pack "$REFERENCE"
rm -rf "$SECOND"
cmake --preset windows -B "$SECOND" >/dev/null
cmake --build "$SECOND" -j "$jobs" --target ProgrammerSetup tamla_standin e2e_driver library_probe >/dev/null
pack "$SECOND"

echo "== $REFERENCE (exe linked $(date -u -r "$REFERENCE/src/ui/ProgrammerSetup.exe" '+%F %T UTC'))"
cat "$REFERENCE/repro-package/SHA256SUMS"
echo "== $SECOND (exe linked $(date -u -r "$SECOND/src/ui/ProgrammerSetup.exe" '+%F %T UTC'); $(( $(date +%s) - start )) s)"
cat "$SECOND/repro-package/SHA256SUMS"
if cmp -s "$REFERENCE/repro-package/SHA256SUMS" "$SECOND/repro-package/SHA256SUMS"; then
    echo "repro-check: the same bytes"
    rm -rf "$SECOND"
    exit 0
fi
echo "repro-check: FAIL, the builds differ; first differing bytes of the exe:" >&2
cmp -l "$REFERENCE/src/ui/ProgrammerSetup.exe" "$SECOND/src/ui/ProgrammerSetup.exe" | head >&2 || true
exit 1
