# shellcheck shell=bash
# Sourced by the scripts that run the Windows build under Wine: a private
# prefix under the build folder, no debug noise, and the one place that
# decides which build this host's Wine can run.
# Usage: [WINE_LOCALE=...] [WINE_BUILD_ARCH=x86|x64] source scripts/wine-env.sh PREFIX-DIR
# Always pass the argument ("" for the default prefix): a file sourced
# without arguments sees its caller's command line as its own.
# (bash restores variables given in front of `source` once it returns, so
# what the functions below need is kept under other names.)
#
# WINE_BUILD_ARCH names the build the prefix runs: x86 (default) is the
# 32-bit exe in a 32-bit prefix through Debian's `wine`; x64 is the twin
# (build/windows-x64) in a 64-bit prefix of its own through the 64-bit
# loader, called directly: Debian's `wine` wrapper picks the 32-bit loader
# whenever it is installed, even where it cannot start. Commands run as
# "$WINE" (wine_run "$WINE" wineboot, "$WINE" winepath, ...).

ROOT_DIR=${ROOT_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
WINE64_LOADER=/usr/lib/wine/wine64
WINE32_LOADER=/usr/lib/wine/wine
if [ "${WINE_BUILD_ARCH:-x86}" = x64 ]; then
    export WINEPREFIX=${1:-${WINEPREFIX:-$ROOT_DIR/build/wineprefix-x64}}
    export WINEARCH=win64
    export WINELOADER=$WINE64_LOADER
    WINE=$WINE64_LOADER
else
    export WINEPREFIX=${1:-${WINEPREFIX:-$ROOT_DIR/build/wineprefix}}
    export WINEARCH=win32
    unset WINELOADER
    WINE=wine
fi
# Wine refuses a relative prefix path.
WINEPREFIX=$(realpath -m "$WINEPREFIX")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from LC_ALL (LANG alone is not enough): 936
# unless the caller picks another. Only the Wine commands get it (wine_run):
# the Linux side need not have that locale, and every shell that inherited
# it would warn that it cannot set it.
export WINE_LOCALE=${WINE_LOCALE:-zh_CN.UTF-8}
WINE_RUN_LOCALE=$WINE_LOCALE

# Whether this host runs 32-bit code, probed once (the 32-bit Wine loader is
# itself a 32-bit program) and kept in HOST_RUNS_32BIT (1 or 0) and
# HOST_32BIT_CAUSE for the scripts this one starts. Some kernels boot with
# 32-bit emulation off; every 32-bit ELF then fails with "Exec format error".
# HOST_RUNS_32BIT=0 given by the caller acts as such a host.
wine_probe_32bit() {
    local out
    if [ -n "${HOST_RUNS_32BIT:-}" ]; then
        HOST_32BIT_CAUSE=${HOST_32BIT_CAUSE:-HOST_RUNS_32BIT=$HOST_RUNS_32BIT given}
    elif [ ! -x "$WINE32_LOADER" ]; then
        HOST_RUNS_32BIT=0
        HOST_32BIT_CAUSE="no 32-bit Wine loader ($WINE32_LOADER) is installed"
    elif out=$("$WINE32_LOADER" --version 2>&1); then
        HOST_RUNS_32BIT=1
        HOST_32BIT_CAUSE="its 32-bit Wine loader starts"
    else
        HOST_RUNS_32BIT=0
        HOST_32BIT_CAUSE="its 32-bit Wine loader cannot start: $(printf '%s' "$out" | tail -n 1 | sed 's/^.*: line [0-9]*: //')"
    fi
    export HOST_RUNS_32BIT HOST_32BIT_CAUSE
}

# Decides which build the run drives and prints one line saying so:
# WINE_DRIVE_ARCH=x86 (the 32-bit exe) or x64 (the twin, for everything).
# E2E_ARCH=x64 forces the twin, E2E_ARCH=x86 the 32-bit exe (which fails
# here, with the cause, on a host that cannot run it). $1 names the run;
# $2=twin-pass for a run that adds one short pass on the twin where it
# drives the 32-bit exe (WINE_TWIN_PASS=1), so the twin never rots.
wine_choose_build() {
    local run=$1 twin="the x64 twin (build/windows-x64, $WINE64_LOADER)" plus=""
    wine_probe_32bit
    WINE_TWIN_PASS=0
    [ "${2:-}" = twin-pass ] && plus=", plus a short pass on $twin"
    case "${E2E_ARCH:-}" in
        x64)
            WINE_DRIVE_ARCH=x64
            echo "$run: drives $twin: E2E_ARCH=x64 forces it"
            ;;
        x86)
            if [ "$HOST_RUNS_32BIT" != 1 ]; then
                echo "$run: E2E_ARCH=x86 asks for the 32-bit exe, but this host runs no 32-bit code ($HOST_32BIT_CAUSE)" >&2
                return 1
            fi
            WINE_DRIVE_ARCH=x86
            echo "$run: drives the 32-bit exe (build/windows): E2E_ARCH=x86 forces it"
            ;;
        "")
            if [ "$HOST_RUNS_32BIT" = 1 ]; then
                WINE_DRIVE_ARCH=x86
                [ -n "$plus" ] && WINE_TWIN_PASS=1
                echo "$run: drives the 32-bit exe (build/windows)$plus: this host runs 32-bit code ($HOST_32BIT_CAUSE)"
            else
                WINE_DRIVE_ARCH=x64
                echo "$run: drives $twin: this host runs no 32-bit code ($HOST_32BIT_CAUSE)"
            fi
            ;;
        *)
            echo "$run: E2E_ARCH must be x64 or x86, not '$E2E_ARCH'" >&2
            return 1
            ;;
    esac
    export WINE_DRIVE_ARCH WINE_TWIN_PASS
}

# For a check that runs this prefix's build: true when the host can run it,
# else it says why and is false.
wine_build_runs_here() {
    [ "$WINEARCH" = win64 ] && return 0
    wine_probe_32bit
    [ "$HOST_RUNS_32BIT" = 1 ] && return 0
    echo "skipped: this host runs no 32-bit code ($HOST_32BIT_CAUSE)"
    return 1
}

# Runs a command ("$WINE" ..., wineserver) with the prefix's locale.
wine_run() {
    env LC_ALL="$WINE_RUN_LOCALE" "$@"
}

# Creates the prefix once; later calls reuse it. A prefix that cannot be
# made is reported with Wine's own words and fails the caller.
wine_prefix_ready() {
    local log status=0 existed=0
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    [ -e "$WINEPREFIX" ] && existed=1
    mkdir -p "$(dirname "$WINEPREFIX")"
    echo "wine: creating $WINEARCH prefix $WINEPREFIX (once)"
    log=$(mktemp)
    wine_run "$WINE" wineboot -i >"$log" 2>&1 || status=$?
    wineserver -w >>"$log" 2>&1 || true
    if [ "$status" -ne 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: cannot create the prefix $WINEPREFIX with $WINE (exit status $status):" >&2
        sed 's/^/  /' "$log" | tail -n 20 >&2
        rm -f "$log"
        # Half a prefix of ours would pass for a ready one next time.
        [ "$existed" -eq 0 ] && rm -rf "$WINEPREFIX"
        return 1
    fi
    rm -f "$log"
    # A crashing program prints its backtrace and ends instead of
    # showing the crash dialog, so a test fails rather than hangs.
    if ! wine_run "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1; then
        echo "wine: cannot switch off the crash dialog in $WINEPREFIX" >&2
        return 1
    fi
    wineserver -w 2>/dev/null || true
}

# Stops this prefix's wineserver, and only this one's.
wine_stop() {
    wineserver -k 2>/dev/null || true
}

# Runs a command under a virtual X display unless one is given. The prefix's
# Wine is stopped while the display is still there: a Wine program that
# outlives it reports its broken X connection.
with_display() {
    if [ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
            '"$@"; status=$?; wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; exit $status' \
            with_display "$@"
    fi
}
