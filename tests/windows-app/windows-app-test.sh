#!/usr/bin/env bash
# The Windows programs under Wine, as an operator runs them. Arguments: the Wine loader, the
# app_probe.exe built from AppProbe.cpp, brevload-cli.exe (empty when it is not built). Wine's
# prefix and WINEPATH (the DLLs) come from scripts/test-windows.
set -uo pipefail
wine=$1
probe=$2
cli=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}
winpath() { echo "Z:${1//\//\\}"; }

# Console mode: a window-subsystem program started from cmd prints on cmd's console. Wine makes
# a console only for a terminal, so cmd runs on one (script(1)). What it draws is compared without
# its escape sequences and blanks (it moves the cursor over a blank).
out=$(cd "$dir" && script -qec "'$wine' cmd /c '$(winpath "$probe") console'; echo \"exit \$?\"" /dev/null |
    sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d '\r ')
[[ $out == *"exit0"* ]] || fail "console: the probe failed: '$out'"
[[ $out == *"Brevantisbrevloadbegin"* ]] || fail "console: the banner did not reach cmd's console: '$out'"

# A fault, and an uncaught C++ exception, leave mindmp.dmp (a minidump: it starts with MDMP) in
# the current folder, in place of an older one.
for how in crash throw; do
    mkdir "$dir/$how"
    printf 'stale' >"$dir/$how/mindmp.dmp"
    # Without Wine's debugger, which attaches to a crashed process and now and then ends it with 0.
    (cd "$dir/$how" && WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winedbg.exe=d" "$wine" "$probe" $how >"$dir/$how.out" 2>&1)
    code=$?
    [ $code -ne 0 ] || fail "$how: the probe exited 0"
    [ "$(head -c 4 "$dir/$how/mindmp.dmp" 2>/dev/null)" = MDMP ] || fail "$how: no minidump in mindmp.dmp"
    size=$(stat -c %s "$dir/$how/mindmp.dmp" 2>/dev/null || echo 0)
    [ "$size" -gt 1000 ] || fail "$how: the minidump holds only $size bytes"
done

# brevload-cli.exe downloads to two simulated devices; the image's name is not ASCII, so the
# arguments must reach the tool as Unicode.
if [ -n "$cli" ]; then
    head -c 100000 /dev/urandom >"$dir/data.bin"
    (cd "$dir" && "$wine" "$cli" make-image data.bin 固件.up >"$dir/make.out" 2>&1) ||
        fail "make-image: $(cat "$dir/make.out")"
    (cd "$dir" && "$wine" "$cli" download 固件.up --simulate 2 --sim-dir flash --records 记录/r.sqlite \
        >"$dir/dl.out" 2>&1)
    code=$?
    [ $code -eq 0 ] || fail "download: exit $code: $(cat "$dir/dl.out")"
    grep -q "2 succeeded, 0 failed" "$dir/dl.out" || fail "download: no summary: $(cat "$dir/dl.out")"
    for sim in sim0 sim1; do
        if ! cmp -s -n 100000 "$dir/data.bin" "$dir/flash/$sim.flash"; then
            fail "download: $sim's flash does not start with the data"
        fi
    done
    # Each device's job is in the records file (in a folder whose name is not ASCII either).
    (cd "$dir" && "$wine" "$cli" history --records 记录/r.sqlite --csv >"$dir/history.csv" 2>"$dir/history.err") ||
        fail "history: $(cat "$dir/history.err")"
    rows=$(python3 -c '
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="", encoding="utf-8")))
print(" ".join(sorted(r["device"] + ":" + r["operation"] + ":" + r["result"] + ":" + r["image"].replace("\\", "/").split("/")[-1]
                      for r in rows)))' "$dir/history.csv")
    [ "$rows" = "sim0:download:ok:固件.up sim1:download:ok:固件.up" ] ||
        fail "history: not the two downloads recorded: '$rows' from $(cat "$dir/history.csv")"
    [ -f "$dir/记录/r.sqlite" ] || fail "records: not in the folder named: $(ls "$dir")"

    # One operator per device across processes (a named mutex): a second process on the device
    # the first is writing fails at once as busy; the first is not disturbed.
    (cd "$dir" && exec "$wine" "$cli" download 固件.up --simulate 1 --sim-dir locked --sim-profile realistic \
        --sim-time-scale 15 --json >"$dir/first.out" 2>&1) &
    first=$!
    for _ in $(seq 600); do
        grep -q '"event":"progress"' "$dir/first.out" 2>/dev/null && break
        sleep 0.1
    done
    (cd "$dir" && "$wine" "$cli" download 固件.up --simulate 1 --sim-dir locked --json >"$dir/second.out" 2>&1)
    code=$?
    [ $code -eq 1 ] || fail "lock: the second process exited $code: $(cat "$dir/second.out")"
    grep -q '"reason":"busy"' "$dir/second.out" || fail "lock: the second process was not refused as busy"
    wait $first
    code=$?
    [ $code -eq 0 ] || fail "lock: the first process exited $code: $(tail -3 "$dir/first.out")"

    # Ctrl-C typed on the console: running jobs finish, then the tool ends with 130. The console
    # is Wine's on a terminal (script(1), flushing as it goes); the key is typed once the download
    # is under way. Wine draws the console a character at a time between escape sequences. The key
    # interrupts the whole foreground group, so the shell script(1) starts (whichever $SHELL names)
    # gets a handler too, or it would die with the tool before saying the exit code.
    drawn() { sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$dir/typescript" 2>/dev/null | tr -d '\r '; }
    (cd "$dir" && {
        for _ in $(seq 600); do
            drawn | grep -q "10%" && break
            sleep 0.1
        done
        printf '\003'
        for _ in $(seq 600); do
            drawn | grep -q "exit[0-9]" && break
            sleep 0.1
        done
    } | script -fqec "trap : INT; '$wine' '$cli' download 固件.up --simulate 1 --sim-dir ctrlc --sim-profile realistic --sim-time-scale 10; echo \"exit \$?\"" "$dir/typescript" >/dev/null)
    out=$(drawn | tail -c 600)
    [[ $out == *"exit130"* ]] || fail "ctrl-c: the tool did not end with 130: $out"
    [[ $out == *"1succeeded,0failed"* ]] || fail "ctrl-c: the running job did not finish: $out"
fi
exit $failed
