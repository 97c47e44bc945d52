#!/usr/bin/env bash
# Runs ui_probe.exe against the staged tool under Wine on a virtual display,
# with the stand-in library simulating in a fresh folder of its own.
# Usage: run-ui-probe.sh WINEPREFIX STAGE_DIR UI_PROBE_EXE
# Every Wine program, winepath included, runs on the virtual display: the
# first one starts the prefix's desktop process, and a desktop started
# without a display (or on one since closed) makes later windows fail with
# "no driver could be loaded". Hence also the stops before and after.
set -euo pipefail
prefix=$1 stage=$2 probe=$3
source "$(dirname "$0")/../../scripts/wine-env.sh" "$prefix"
wine_prefix_ready
wine_stop
sim=$(mktemp -d /tmp/ui-probe-sim.XXXXXX)
trap 'wine_stop; rm -rf "$sim"' EXIT
export sim stage probe
with_display bash -c '
    TAMLASIM_DIR=$(env LC_ALL="$WINE_LOCALE" winepath -w "$sim" 2>/dev/null)
    export TAMLASIM_DIR
    exe=$(env LC_ALL="$WINE_LOCALE" winepath -w "$stage/ProgrammerSetup.exe" 2>/dev/null)
    env LC_ALL="$WINE_LOCALE" wine "$probe" "$exe"'
