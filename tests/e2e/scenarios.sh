# The end-to-end scenarios, run by the guest's init. Each prints "E2E PASS name" or
# "E2E FAIL name: why"; the host fails the run on any FAIL or when a scenario is missing.
G=/sys/kernel/config/usb_gadget
T=/tmp
export BREVLOAD_HOME=$T/home
# The scenarios look for the tool's Chinese texts.
export LANG=zh_CN.UTF-8
mkdir -p "$BREVLOAD_HOME/brevload_files"
brevload-e2e-probe programs "$BREVLOAD_HOME/brevload_files"

failures=0
pass() { echo "E2E PASS $*"; }
fail() {
    echo "E2E FAIL $1: $2"
    failures=$((failures + 1))
}
now_ms() { read -r up _ </proc/uptime; echo $((${up%.*} * 1000 + 1${up#*.}0 - 1000)); }

# start_gadget NAME UDC [gadget options...]: serves NAME on UDC until stop_gadget NAME.
start_gadget() {
    name=$1 udc=$2
    shift 2
    rm -f "$T/$name.ready"
    brevload-gadget --udc "$udc" --name "$name" --ready-file "$T/$name.ready" "$@" 2>>"$T/$name.log" &
    eval "pid_$name=$!"
    for _ in $(seq 100); do [ -e "$T/$name.ready" ] && return 0; sleep 0.1; done
    echo "e2e: gadget $name did not start"; cat "$T/$name.log"
    return 1
}
# Stops gadget $1; a gadget that does not end cleanly fails the scenario "gadget-exit".
stop_gadget() {
    eval "p=\$pid_$1"
    kill -TERM "$p"
    wait "$p"
    s=$?
    [ $s -eq 0 ] || fail gadget-exit "gadget $1 ended with status $s"
}

# The SCSI disk of the gadget whose USB serial number is $1 (the gadget's name), if attached.
disk_of() {
    for b in /sys/block/sd*; do
        [ -e "$b/device" ] || continue
        p=$(readlink -f "$b/device")
        while [ "$p" != / ] && [ -n "$p" ]; do
            if [ -f "$p/serial" ] && [ -f "$p/devnum" ]; then
                [ "$(cat "$p/serial")" = "$1" ] && echo "${b##*/}"
                break
            fi
            p=${p%/*}
        done
    done
}
# Waits until the gadget's disk and its SCSI generic node are there; prints the disk's name.
wait_disk() {
    for _ in $(seq 150); do
        d=$(disk_of "$1")
        if [ -n "$d" ] && ls /sys/block/"$d"/device/scsi_generic/sg* >/dev/null 2>&1; then
            echo "$d"
            return 0
        fi
        sleep 0.1
    done
    return 1
}
wait_gone() {
    for _ in $(seq 100); do [ -z "$(disk_of "$1")" ] && return 0; sleep 0.1; done
    return 1
}
# Waits up to $2 seconds for our child $1, killing it when it overstays; its exit status goes to
# $status ("killed" when killed). Not for $(...): a subshell cannot reap its parent's children.
wait_for() {
    for _ in $(seq $(($2 * 10))); do
        if [ ! -e /proc/"$1" ] || grep -q '^State:.*Z' /proc/"$1"/status 2>/dev/null; then
            wait "$1"
            status=$?
            return
        fi
        sleep 0.1
    done
    kill -KILL "$1"
    wait "$1"
    status=killed
}
# same_prefix FILE DATA: the first bytes of FILE are DATA.
same_prefix() { head -c "$(wc -c <"$2")" "$1" | cmp -s - "$2"; }

head -c 300000 /dev/urandom >$T/data.bin
head -c 200000 /dev/urandom >$T/data2.bin
brevload-cli make-image $T/data.bin $T/img.up >/dev/null && brevload-cli make-image $T/data2.bin $T/img2.up >/dev/null ||
    fail make-image "brevload-cli make-image failed"

# --- Discovery: the download-mode gadget is found, one with another vendor string is not.
start_gadget ga dummy_udc.0 --flash $T/ga.nor --ex-flash $T/ga.ex
start_gadget gx dummy_udc.1 --vendor "OTHERVND"
a=$(wait_disk ga)
x=$(wait_disk gx)
scan=$(brevload-e2e-probe scan BRVNTIS DEVICE)
echo "$scan"
list=$(brevload-cli list 2>&1)
echo "$list"
if [ -z "$a" ] || [ -z "$x" ]; then
    fail discovery "gadget disks did not appear (ga='$a' gx='$x')"
elif ! echo "$scan" | grep -qx "volume $a type=removable bus=usb vendor=\"BRVNTIS \" product=\"DEVICE          \""; then
    fail discovery "$a not seen as a removable USB disk with the model's strings"
elif ! echo "$scan" | grep -qx "found $a" || echo "$scan" | grep -qx "found $x"; then
    fail discovery "the scanner did not find exactly $a"
elif ! echo "$list" | grep -qw "$a" || echo "$list" | grep -qw "$x"; then
    fail discovery "brevload-cli list does not show exactly $a"
else
    pass discovery
fi
stop_gadget gx

# --- Internal flash download through SG_IO; checked by read-back and by the model's dump.
out=$(brevload-cli download $T/img.up --device "$a" 2>&1)
rc=$?
echo "$out" | tail -4
brevload-e2e-probe readback "$a" 0 300000 $T/readback.bin
stop_gadget ga
if [ $rc -ne 0 ]; then
    fail download "exit status $rc"
elif ! cmp -s $T/readback.bin $T/data.bin; then
    fail download "the read-back differs from the image data"
elif ! same_prefix $T/ga.nor $T/data.bin; then
    fail download "the model's flash dump differs from the image data"
else
    pass download
fi

# --- External flash: a raw binary through the SPI loader, checked in the model's dump.
start_gadget ga dummy_udc.0 --flash $T/ga.nor --ex-flash $T/ga.ex
a=$(wait_disk ga)
out=$(brevload-cli download $T/data2.bin --ex-flash --device "$a" 2>&1)
rc=$?
echo "$out" | tail -4
stop_gadget ga
if [ $rc -ne 0 ]; then
    fail ex-flash "exit status $rc"
elif ! same_prefix $T/ga.ex $T/data2.bin; then
    fail ex-flash "the model's external flash dump differs from the data"
elif ! same_prefix $T/ga.nor $T/data.bin; then
    fail ex-flash "the internal flash changed"
else
    pass ex-flash
fi

# --- Faults in the model: an unknown command comes back as CHECK CONDITION with the model's
# sense data (ILLEGAL REQUEST, which the host's SCSI layer passes on untouched); a bit flipped in the second written block ends the download with exit 1.
start_gadget ga dummy_udc.0 --flip-write 2
a=$(wait_disk ga)
sense=$(brevload-e2e-probe sense "$a")
echo "$sense"
out=$(brevload-cli download $T/img.up --device "$a" 2>&1)
rc=$?
echo "$out" | grep -m1 "数据写入失败"
stop_gadget ga
if [ "$sense" != "rejected check-condition sense 05/20/00" ]; then
    fail fault "an unknown command was not rejected with the model's sense data"
elif [ $rc -ne 1 ]; then
    fail fault "exit status $rc, expected 1"
elif ! echo "$out" | grep -q "数据写入失败"; then
    fail fault "no failure line in the output"
else
    pass fault
fi

# --- Unplug during a download: it fails in time, and the monitor reports the removal.
brevload-e2e-probe monitor 120 >$T/monitor.log &
mon=$!
for _ in $(seq 50); do grep -q "monitor ready" $T/monitor.log && break; sleep 0.1; done
start_gadget ga dummy_udc.0 --timing realistic --time-scale 2
a=$(wait_disk ga)
brevload-cli --trace $T/unplug.trace download $T/img.up --device "$a" >$T/unplug.out 2>&1 &
dl=$!
for _ in $(seq 100); do [ "$(cat $T/unplug.trace 2>/dev/null | wc -l)" -ge 4 ] && break; sleep 0.1; done
t0=$(now_ms)
echo "" >$G/ga/UDC
wait_for $dl 20
elapsed=$(($(now_ms) - t0))
wait_gone ga
sleep 0.5
tail -3 $T/unplug.out
cat $T/monitor.log
if [ "$status" != 1 ]; then
    fail unplug "exit status $status, expected 1"
elif [ $elapsed -gt 11000 ]; then
    fail unplug "took $elapsed ms after the unplug"
elif ! grep -qx "removal $a" $T/monitor.log; then
    fail unplug "the monitor did not report the removal of $a"
else
    pass unplug "($elapsed ms)"
fi

# --- Replug while 'watch --count 2' runs: arrival reported, both arriving devices downloaded.
brevload-cli watch $T/img2.up --count 2 >$T/watch.out 2>&1 &
w=$!
sleep 1
echo dummy_udc.0 >$G/ga/UDC
a=$(wait_disk ga)
sleep 0.5
if [ -n "$a" ] && grep -qx "arrival $a" $T/monitor.log; then pass replug; else fail replug "no arrival reported for '$a'"; fi
start_gadget gb dummy_udc.1
b=$(wait_disk gb)
wait_for $w 60
tail -6 $T/watch.out
brevload-e2e-probe readback "$a" 0 200000 $T/wa.bin
brevload-e2e-probe readback "$b" 0 200000 $T/wb.bin
if [ "$status" != 0 ]; then
    fail watch "exit status $status"
elif ! cmp -s $T/wa.bin $T/data2.bin || ! cmp -s $T/wb.bin $T/data2.bin; then
    fail watch "a device's flash does not hold the image data"
else
    pass watch
fi
stop_gadget ga

# --- Two gadgets at once: one command downloads both in parallel.
start_gadget ga dummy_udc.0
a=$(wait_disk ga)
t0=$(now_ms)
out=$(brevload-cli download $T/img.up 2>&1)
rc=$?
ms=$(($(now_ms) - t0))
echo "$out" | tail -4
brevload-e2e-probe readback "$a" 0 300000 $T/pa.bin
brevload-e2e-probe readback "$b" 0 300000 $T/pb.bin
if [ $rc -ne 0 ]; then
    fail parallel "exit status $rc"
elif ! cmp -s $T/pa.bin $T/data.bin || ! cmp -s $T/pb.bin $T/data.bin; then
    fail parallel "a device's flash does not hold the image data"
else
    pass parallel "(two devices in $ms ms)"
fi
stop_gadget gb

# --- The per-command round trip through the whole stack.
if brevload-e2e-probe bench "$a" 1000 64; then pass bench; else fail bench "a command failed"; fi
stop_gadget ga
kill $mon 2>/dev/null
if [ $failures -gt 0 ]; then
    for g in ga gb gx; do
        echo "--- gadget $g log"
        tail -n 40 $T/$g.log
    done
    dmesg | tail -n 60
fi
