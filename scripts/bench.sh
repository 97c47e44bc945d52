#!/usr/bin/env bash
# Measures the performance figures side by side in one run and writes them,
# with the commands that produced them, to docs/performance.md:
#   - image build: ComposeConfigImage against a plain fill-and-copy (native)
#   - the exe's stripped size and import list
#   - dialog thread latency during a 3 s write and a 200-event storm (Wine)
#   - start-up against an empty dialog built and run the same way (Wine)
#
#   scripts/bench.sh [start-up runs, default 15]
#
# BENCH_BUILD_DIR (default build/bench), E2E_BUILD_DIR (default
# build/windows) and E2E_WINEPREFIX (default build/wineprefix) choose other
# folders; BENCH_OUTPUT (default docs/performance.md) the report.
set -euo pipefail
if [ $# -gt 1 ] || [[ ! ${1:-15} =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [start-up runs, default 15]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUNS=${1:-15}
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

NATIVE=${BENCH_BUILD_DIR:-$ROOT/build/bench}
WINBUILD=${E2E_BUILD_DIR:-$ROOT/build/windows}
OUTPUT=${BENCH_OUTPUT:-$ROOT/docs/performance.md}
STAGE=$WINBUILD/stage
DRIVER=$WINBUILD/tests/e2e/e2e_driver.exe
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

echo "== building (native bench preset, windows preset)"
cmake --preset bench -B "$NATIVE" >/dev/null
cmake --build "$NATIVE" -j 2 --target bench_image
cmake --preset windows -B "$WINBUILD" >/dev/null
cmake --build "$WINBUILD" -j 2

echo "== image build benchmark"
"$NATIVE/tests/bench/bench_image" --benchmark_repetitions=5 --benchmark_min_time=0.5 \
    --benchmark_report_aggregates_only=true 2>&1 | tee "$TMP/image.txt"
median_ns() { awk -v name="$1_median" '$1 == name { print $2 }' "$TMP/image.txt"; }
compose=$(median_ns BM_ComposeConfigImage)
floor=$(median_ns BM_FillAndCopyFloor)
image_ratio=$(awk -v a="$compose" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
image_goal=$(awk -v r="$image_ratio" 'BEGIN { print (r <= 2.0 ? "met" : "NOT met") }')

echo "== exe size and imports"
EXE=$STAGE/ProgrammerSetup.exe
i686-w64-mingw32-strip -o "$TMP/ProgrammerSetup.exe" "$EXE"
stripped=$(stat -c %s "$TMP/ProgrammerSetup.exe")
unstripped=$(stat -c %s "$EXE")
imports=$(i686-w64-mingw32-objdump -p "$EXE" | awk '/DLL Name:/ { print $3 }')
i686-w64-mingw32-strip -o "$TMP/floor.exe" "$WINBUILD/tests/e2e/e2e_floor_dialog.exe"
floor_size=$(stat -c %s "$TMP/floor.exe")
# What one std::mutex costs a static i686 build (lock() can throw
# std::system_error, which brings in much of libstdc++).
printf '#include <mutex>\nstd::mutex m;\nint main() { std::lock_guard<std::mutex> l(m); return 0; }\n' > "$TMP/mutex.cpp"
i686-w64-mingw32-g++-posix -O2 -std=c++20 -static -static-libgcc -static-libstdc++ -s \
    "$TMP/mutex.cpp" -o "$TMP/mutex.exe"
mutex_size=$(stat -c %s "$TMP/mutex.exe")
size_goal=$( [ "$stripped" -lt 131072 ] && echo met || echo "NOT met")
system_dlls='^(KERNEL32|USER32|GDI32|COMCTL32|ADVAPI32|SHELL32|msvcrt|api-ms-win-.*|TAMLAISPDLL)\.(dll|DLL)$'
foreign=$(echo "$imports" | grep -Eiv "$system_dlls" || true)
import_goal=$( [ -z "$foreign" ] && echo met || echo "NOT met (also: $foreign)")
echo "stripped $stripped bytes; imports: $(echo $imports)"

echo "== Wine measurements"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh "${E2E_WINEPREFIX:-$ROOT/build/wineprefix}"
export FORCE_XVFB=1
wine_prefix_ready
wine_stop
wineserver -w 2>/dev/null || true
trap 'wine_stop; rm -rf "$TMP"' EXIT
stage_win="Z:${STAGE//\//\\}"
with_display env LC_ALL="$WINE_LOCALE" wine "$DRIVER" bench "$stage_win" "$RUNS" 2>"$TMP/wine-stderr.txt" | tr -d '\r' | tee "$TMP/wine.txt"
if ! grep -q "first search finished" "$TMP/wine.txt"; then
    grep -v fixme "$TMP/wine-stderr.txt" >&2 || true
    echo "bench: the Wine measurements did not complete" >&2
    exit 1
fi

rel() { echo "${1#"$ROOT"/}"; }
cpu=$(awk -F: '/model name/ { sub(/^ /, "", $2); print $2; exit }' /proc/cpuinfo)
{
    echo "# Performance figures"
    echo
    echo "Written by \`scripts/bench.sh $RUNS\` on $(date -u '+%Y-%m-%d %H:%M UTC'):"
    echo "$(nproc) cores ($cpu), load average before the run $LOAD_BEFORE."
    echo "Every figure below comes from that one run; run the script again to refresh them."
    echo "Wine figures are taken under Xvfb with the stand-in library, in the prefix"
    echo "\`$(rel "${E2E_WINEPREFIX:-$ROOT/build/wineprefix}")\`, code page 936."
    echo
    echo "## Image build (native, Release, Google Benchmark)"
    echo
    echo "\`$(rel "$NATIVE")/tests/bench/bench_image --benchmark_repetitions=5 --benchmark_min_time=0.5\`:"
    echo "ComposeConfigImage with every option set against a plain fill, copy and"
    echo "constant stores of the same 61440 bytes (the program checks both make equal"
    echo "images before timing)."
    echo
    echo "| benchmark | median time per image (ns) |"
    echo "|---|---|"
    echo "| ComposeConfigImage | $compose |"
    echo "| fill-and-copy floor | $floor |"
    echo
    echo "Ratio $image_ratio; goal within 2x: $image_goal."
    echo
    echo "## Executable"
    echo
    echo "\`i686-w64-mingw32-strip -o <copy> ProgrammerSetup.exe\`, \`i686-w64-mingw32-objdump -p\`:"
    echo
    echo "- size: $unstripped bytes as built, $stripped bytes stripped ($((stripped / 1024)) KiB); goal < 128 KiB: $size_goal."
    echo "- for scale, the empty dialog built the same way (static runtime) is $floor_size bytes stripped."
    echo "- a program that only locks one std::mutex, built the same way, is $mutex_size bytes stripped: why the tool's locks are SRW locks in the Windows build."
    echo "- imports: $(echo $imports | sed 's/ /, /g'); goal system DLLs and TAMLAISPDLL.DLL only: $import_goal."
    echo
    echo "## Under Wine: responsiveness and start-up"
    echo
    echo "\`wine $(basename "$DRIVER") bench <stage> $RUNS\` (the driver samples the dialog thread"
    echo "with SendMessageTimeout(WM_NULL) every 3 ms and starts both programs from a"
    echo "fresh folder with CreateProcess, waiting for the visible dialog):"
    cat "$TMP/wine.txt"
} > "$OUTPUT"
echo "== wrote $OUTPUT"
