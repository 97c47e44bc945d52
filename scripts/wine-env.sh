# Sourced by the scripts that run the Windows build under Wine: a private
# 32-bit prefix under the build folder, no debug noise.
# Usage: [WINE_LOCALE=...] source scripts/wine-env.sh [prefix-dir]

ROOT_DIR=${ROOT_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${1:-${WINEPREFIX:-$ROOT_DIR/build/wineprefix}}
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from LC_ALL (LANG alone is not enough): 936
# unless the caller picks another. Only the Wine commands get it (wine_run):
# the Linux side need not have that locale, and every shell that inherited
# it would warn that it cannot set it.
export WINE_LOCALE=${WINE_LOCALE:-zh_CN.UTF-8}

# Runs a command (wine, wineboot, ...) with the prefix's locale.
wine_run() {
    env LC_ALL="$WINE_LOCALE" "$@"
}

# Creates the prefix once; later calls reuse it.
wine_prefix_ready() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$(dirname "$WINEPREFIX")"
        echo "wine: creating prefix $WINEPREFIX (once)"
        wine_run wineboot -i >/dev/null 2>&1 || true
        # A crashing program prints its backtrace and ends instead of
        # showing the crash dialog, so a test fails rather than hangs.
        wine_run wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1 || true
        wineserver -w 2>/dev/null || true
    fi
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
