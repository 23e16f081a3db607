#!/usr/bin/env bash
# Usage: windows-zip-test.sh brevload-<version>-win64.zip
# Unpacks the Windows zip into an empty folder and runs both programs from there in a fresh Wine
# prefix, with nothing of the build or of Qt's install on the DLL path: brevload-cli's version and
# a simulated download, the window's version through its parent console, and the window itself on
# Windows' platform plugin in a virtual X display. Also checks the zip's contents: each DLL in it is
# loaded by a program or plugin in it, and each DLL they load is in it or in Windows.
set -euo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
# KEEP_SCREENSHOT=FILE keeps the window's picture (docs/screenshot-windows.png is made so).
keep=${KEEP_SCREENSHOT:+$(realpath -m "$KEEP_SCREENSHOT")}
fail() { echo "windows-zip-test: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
wine=$(command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
[ -n "$wine" ] || fail "Wine is not installed"
wineserver=$(command -v wineserver || true)
[ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64

(cd "$work" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
name=$(basename "$zip" .zip)
app=$work/$name
[ -d "$app" ] || fail "the zip has no folder $name"
for f in brevload.exe brevload-cli.exe platforms/qwindows.dll brevload_files/README.txt README.txt; do
    [ -f "$app/$f" ] || fail "$f is missing from the zip"
done
[ ! -e "$app/confile.inf" ] || fail "the zip holds a settings file"

# Every DLL shipped is imported by something shipped; every import is shipped or is Windows'.
system_dir=$(dirname "$(find /usr/lib/x86_64-linux-gnu/wine /usr/lib/wine /usr/lib64/wine -maxdepth 3 \
    -name kernel32.dll -path '*x86_64-windows*' 2>/dev/null | head -1)")
imported=$(find "$app" -iname '*.exe' -o -iname '*.dll' | while read -r f; do
    x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr -d '\r'
done | tr 'A-Z' 'a-z' | sort -u)
for dll in "$app"/*.dll; do
    grep -qx "$(basename "${dll,,}")" <<<"$imported" || fail "$(basename "$dll") is shipped but nothing loads it"
done
for dll in $imported; do
    [[ $dll == api-ms-win-* || $dll == ext-ms-* ]] && continue  # API sets: the loader maps them
    [ -n "$(find "$app" -maxdepth 1 -iname "$dll")" ] || [ -n "$(find "$system_dir" -maxdepth 1 -iname "$dll")" ] ||
        fail "$dll is loaded but neither shipped nor part of Windows"
done

export WINEPREFIX=$work/prefix WINEDEBUG=-all LANG=C.UTF-8 WINEPATH=
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ -n "$wineserver" ] && export WINESERVER=$wineserver
cd "$work"

# The window first: it makes the prefix with its desktop in the virtual display.
WINEPREFIX=$WINEPREFIX "$here/../ui/wine-screenshot.sh" "$app/brevload.exe" "$work/window.png" ||
    fail "the window did not run from the unpacked zip"
[ -z "$keep" ] || cp "$work/window.png" "$keep"

version=$(sed -n 's/^brevload-\(.*\)-win64$/\1/p' <<<"$name")
out=$("$wine" "$app/brevload-cli.exe" --version 2>&1 | tr -d '\r') || fail "brevload-cli.exe --version failed: $out"
grep -qF "$version" <<<"$out" || fail "brevload-cli.exe --version gives '$out', not $version"
# The window program prints to the console of the cmd it was started from. Wine makes a console
# only for a terminal, so cmd runs on one (script(1)); what it draws is compared without its escape
# sequences and blanks.
gui=$("$wine" winepath -w "$app/brevload.exe" 2>/dev/null)
out=$(script -qec "'$wine' cmd /c '$gui --version'" /dev/null 2>&1 | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' |
      tr -d '\r ')
[[ $out == *"brevload$version"* ]] || fail "brevload.exe --version does not reach cmd's console: '$out'"

head -c 300000 /dev/urandom >data.bin
"$wine" "$app/brevload-cli.exe" make-image data.bin fw.up >/dev/null 2>&1 || fail "make-image failed"
out=$("$wine" "$app/brevload-cli.exe" download fw.up --simulate 2 --sim-dir flash 2>&1) ||
    fail "the simulated download failed: $out"
[ -s flash/sim0.flash ] && [ -s flash/sim1.flash ] || fail "no flash contents were saved: $out"
cmp -n 300000 data.bin flash/sim0.flash || fail "sim0's flash does not hold the data"
echo "windows-zip-test: ok (both programs ran from the unpacked $name.zip in a fresh Wine prefix)"
