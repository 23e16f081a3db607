#!/usr/bin/env bash
# Usage: install-test.sh BUILD_DIR CMAKE
# Installs BUILD_DIR into a fresh prefix, then runs the installed brevload-cli with nothing of the
# build tree around: its version, doctor (which must find the installed data folder), and a
# simulated download.
set -euo pipefail
build=$(cd "$1" && pwd)
cmake=${2:-cmake}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install-test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for f in bin/brevload-cli lib/udev/rules.d/70-brevload.rules share/brevload/brevload_files/README \
         share/applications/brevload.desktop share/icons/hicolor/scalable/apps/brevload.svg \
         share/metainfo/brevload.metainfo.xml share/bash-completion/completions/brevload-cli; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
done
grep -q 'TAG+="uaccess"' "$prefix/lib/udev/rules.d/70-brevload.rules" || fail "the rule gives no uaccess"
if [ -d "$build/man" ]; then
    [ -s "$prefix/share/man/man1/brevload-cli.1.gz" ] || fail "no man page of brevload-cli"
    zcat "$prefix/share/man/man1/brevload-cli.1.gz" | grep -q 'download' || fail "the man page lacks the help"
fi

# The user's side: a home of its own, no override of the folders, a UTF-8 locale.
export HOME=$work/home XDG_CONFIG_HOME= BREVLOAD_HOME= LC_ALL=C.UTF-8
mkdir -p "$HOME"
cd "$work"
cli=$prefix/bin/brevload-cli
data=$prefix/share/brevload/brevload_files

[ "$("$cli" --version)" = "$("$build/cli/brevload-cli" --version)" ] || fail "installed --version differs"

# Without the device programs doctor names the installed data folder and fails.
set +e
out=$("$cli" doctor 2>&1); rc=$?
set -e
[ $rc -eq 1 ] || fail "doctor exit $rc without device programs: $out"
grep -qF "FAIL  the device programs spi.bin and reset.bin are missing from $data " <<<"$out" ||
    fail "doctor does not look in the installed data folder: $out"
grep -qF "ok    the settings and records folder $HOME/.config/brevload is writable" <<<"$out" ||
    fail "doctor: settings folder: $out"

# With them in place it finds them there.
printf 'loader' >"$data/spi.bin"
printf 'reset' >"$data/reset.bin"
set +e
out=$("$cli" doctor 2>&1)
set -e
grep -qF "ok    the device programs spi.bin and reset.bin are in $data" <<<"$out" ||
    fail "doctor does not find the device programs in $data: $out"

# A simulated download from the installed program, image made by it too.
head -c 300000 /dev/urandom >data.bin
"$cli" make-image data.bin fw.up >/dev/null
out=$("$cli" download fw.up --simulate 2 --reset-after --sim-dir flash 2>&1) || fail "simulated download failed: $out"
[ -s flash/sim0.flash ] && [ -s flash/sim1.flash ] || fail "no flash contents were saved: $out"
cmp -n 300000 data.bin flash/sim0.flash || fail "sim0's flash does not hold the data"
echo "install-test: ok ($prefix)"
