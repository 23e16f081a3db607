#!/usr/bin/env bash
# The window under Wine on Windows' own platform plugin, in a virtual X display: two simulated
# devices mid-download in Chinese, written to a PNG that check-screenshot.py examines.
# Usage: wine-screenshot.sh BREVLOAD.EXE OUT.png
#   WINEPREFIX  the Wine prefix (made when missing); WINEPATH  folders with the DLLs, if not beside
#   the program; SCREENSHOT_AFTER  milliseconds before the shot (default 2500)
set -euo pipefail
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix to use}"

wine=$(command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
[ -n "$wine" ] || { echo "wine-screenshot: Wine is not installed" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "wine-screenshot: xvfb-run is not installed (package xvfb)" >&2; exit 1; }
# Debian's wineserver wrapper forces -p0; the server itself lets `-w` wait for the programs.
wineserver=$(command -v wineserver || true)
[ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64
export WINE=$wine WINESERVER=$wineserver EXE=$exe OUT=$out
export WINEDEBUG=-all LANG=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export AFTER=${SCREENSHOT_AFTER:-2500}

mkdir -p "$WINEPREFIX" "$(dirname "$out")"
rm -f "$out" "$out.log"
# Everything Wine starts (its desktop too) lives in this display, and is gone before it closes.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    [ -f "$WINEPREFIX/system.reg" ] || "$WINE" wineboot -i >/dev/null 2>&1
    status=0
    shot=$("$WINE" winepath -w "$OUT" 2>/dev/null)
    # A window that never takes its picture (a box waiting for a click) must not hang the run.
    timeout 120 "$WINE" "$EXE" --simulate 2 --download-all --lang zh --screenshot "$shot" \
        --screenshot-after "$AFTER" >"$OUT.log" 2>&1 || status=$?
    "$WINESERVER" -k 2>/dev/null || true
    exit $status' || { echo "wine-screenshot: $exe failed (exit $?): $(tail -20 "$out.log")" >&2; exit 1; }
[ -f "$out" ] || { echo "wine-screenshot: $exe wrote no $out" >&2; exit 1; }
python3 "$here/check-screenshot.py" "$out"
