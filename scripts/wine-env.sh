# Sourced by the scripts that run the Windows build under Wine: a private
# 32-bit prefix under the build folder, code page 936, no debug noise.
# Usage: source scripts/wine-env.sh [prefix-dir]

ROOT_DIR=${ROOT_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${1:-${WINEPREFIX:-$ROOT_DIR/build/wineprefix}}
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from LC_ALL; LANG alone is not enough.
export LC_ALL=zh_CN.UTF-8

# Creates the prefix once; later calls reuse it.
wine_prefix_ready() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$(dirname "$WINEPREFIX")"
        echo "wine: creating prefix $WINEPREFIX (once)"
        wineboot -i >/dev/null 2>&1 || true
        # A crashing program prints its backtrace and ends instead of
        # showing the crash dialog, so a test fails rather than hangs.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1 || true
        wineserver -w 2>/dev/null || true
    fi
}

# Stops this prefix's wineserver, and only this one's.
wine_stop() {
    wineserver -k 2>/dev/null || true
}

# Runs a command under a virtual X display unless one is given.
with_display() {
    if [ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1024x768x24" "$@"
    fi
}
