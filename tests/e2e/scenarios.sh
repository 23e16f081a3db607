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
# usb_attr DISK ATTR: an attribute of the USB device that holds DISK (speed, serial, ...).
usb_attr() {
    p=$(readlink -f /sys/block/"$1"/device)
    while [ "$p" != / ] && [ -n "$p" ]; do
        [ -f "$p/devnum" ] && { cat "$p/$2"; return; }
        p=${p%/*}
    done
}
# usb_port DISK: the kernel's name of the USB device that holds DISK, its port path ("1-1").
usb_port() {
    p=$(readlink -f /sys/block/"$1"/device)
    while [ "$p" != / ] && [ -n "$p" ]; do
        [ -f "$p/devnum" ] && { echo "${p##*/}"; return; }
        p=${p%/*}
    done
}
# The SCSI generic node of DISK.
sg_of() { echo /dev/"$(ls /sys/block/"$1"/device/scsi_generic/)"; }
# row_field OUTPUT DISK N: column N of DISK's row in brevload-cli's summary table (2: the result,
# 3: the flash id).
row_field() { echo "$1" | awk -v d="$2" -v n="$3" '$1 == d { print $n }'; }

# start_msc NAME UDC FILE [INQUIRY]: the kernel's own mass-storage function on UDC, backed by
# FILE, answering INQUIRY with the given 28 characters (vendor, product, revision) or the
# kernel's default identity. The USB serial number is NAME, as for our gadgets.
start_msc() {
    d=$G/$1 f=$G/$1/functions/mass_storage.0
    mkdir "$d" && mkdir "$d/strings/0x409" "$d/configs/c.1" "$f" || return 1
    echo 0x1d6b >"$d/idVendor"
    echo 0x0104 >"$d/idProduct"
    echo "$1" >"$d/strings/0x409/serialnumber"
    echo 1 >"$f/lun.0/removable"
    echo "$3" >"$f/lun.0/file"
    [ -z "$4" ] || printf '%s' "$4" >"$f/lun.0/inquiry_string"
    ln -s "$f" "$d/configs/c.1/"
    echo "$2" >"$d/UDC"
}
stop_msc() {
    d=$G/$1
    echo "" >"$d/UDC"
    rm "$d/configs/c.1/mass_storage.0"
    rmdir "$d/configs/c.1" "$d/functions/mass_storage.0" "$d/strings/0x409" "$d"
}

# vendor_cdb SUB LEN ADDR: a 16-byte vendor command block as sg_raw takes it, built byte by
# byte: C0, the sub-command, the length and the address as 32-bit little-endian numbers, zeros.
le32() { printf '%02X %02X %02X %02X' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
vendor_cdb() { echo "C0 $1 $(le32 "$2") $(le32 "$3") 00 00 00 00 00 00"; }
# Init with clock divider 9 in byte 2 and the other bus parameters 0.
INIT_CDB="C0 81 09 00 00 00 00 00 00 00 00 00 00 00 00 00"
# The hex bytes of FILE, little-endian, as one upper-case hex number.
le_hex() {
    v=
    for byte in $(od -An -tx1 -v "$1"); do v=$byte$v; done
    printf '%X' $((0x${v:-0}))
}
# The name of a vendor sub-command (two hex digits), as the tool reports it.
command_name() {
    case $1 in
        00) echo ReadFlashId ;; 01) echo WriteByte ;; 02) echo WritePage ;; 03) echo Erase4K ;;
        04) echo Erase32K ;; 05) echo Erase64K ;; 06) echo EraseChip ;; 07) echo Read ;;
        08) echo FastRead ;; 09) echo WriteRam ;; 0A) echo Execute ;; 10) echo LoaderReadFlashId ;;
        12) echo LoaderWrite ;; 13) echo LoaderErase4K ;; 16) echo PcStartWrite ;; 81) echo Init ;;
        82) echo GetCrc16 ;; 83) echo SystemReset ;; 84) echo ReadChipVer ;; 85) echo SetKey ;;
        92) echo LoaderGetCrc16 ;; D9) echo PcStartErase ;; *) echo "0x$1" ;;
    esac
}

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

# --- Identity: list --json shows the port path and serial the kernel reports, and they select the disk.
port=$(usb_port "$a")
json=$(brevload-cli list --json 2>&1)
echo "$json"
row=$(echo "$json" | grep "\"device\":\"$a\"")
by_port=$(brevload-cli list --device "port:$port" 2>&1)
by_serial=$(brevload-cli list --device serial:ga 2>&1)
brevload-cli list --device port:9-9 >$T/noport.out 2>&1
rc=$?
if [ -z "$port" ]; then
    fail identity "no USB device above $a"
elif ! echo "$row" | grep -qF "\"port\":\"$port\",\"serial\":\"ga\",\"sgNode\":\"$(sg_of "$a")\",\"blockNode\":\"/dev/$a\""; then
    fail identity "list --json does not show port $port, serial ga and the nodes of $a: $row"
elif ! echo "$by_port" | grep -qE "^$a +- +$port +ga "; then
    fail identity "--device port:$port does not choose $a: $by_port"
elif ! echo "$by_serial" | grep -qE "^$a "; then
    fail identity "--device serial:ga does not choose $a: $by_serial"
elif [ $rc -ne 3 ] || ! grep -q "port:9-9" $T/noport.out; then
    fail identity "an unknown port gave status $rc: $(cat $T/noport.out)"
else
    pass identity
fi

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

# --- Re-download with --skip-unchanged after one byte of block 2 changed: only that block is
# written, the read-back equals the new image, and verify finds the device equal to it.
off=$((2 * 65536 + 17))
byte=$(od -An -tu1 -j $off -N1 $T/data.bin | tr -d ' ')
cp $T/data.bin $T/data3.bin
printf "\\$(printf %03o $((255 - byte)))" | dd of=$T/data3.bin bs=1 seek=$off conv=notrunc 2>/dev/null
brevload-cli make-image $T/data3.bin $T/img3.up >/dev/null || fail skip-unchanged "brevload-cli make-image failed"
start_gadget ga dummy_udc.0 --flash $T/ga.nor
a=$(wait_disk ga)
out=$(brevload-cli download $T/img3.up --skip-unchanged --json --device "$a" 2>&1)
rc=$?
echo "$out" | grep '"event":"result"'
brevload-e2e-probe readback "$a" 0 300000 $T/readback3.bin
brevload-cli verify $T/img3.up --device "$a" -q
vrc=$?
stop_gadget ga
if [ $rc -ne 0 ]; then
    fail skip-unchanged "exit status $rc"
elif ! echo "$out" | grep -q '"bytes":65536,"bytesSkipped":234464'; then
    fail skip-unchanged "not exactly the changed block was written"
elif ! cmp -s $T/readback3.bin $T/data3.bin; then
    fail skip-unchanged "the read-back differs from the new image data"
elif [ $vrc -ne 0 ]; then
    fail skip-unchanged "verify ended with $vrc"
else
    pass skip-unchanged
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
# -v names each command as it ends: unplug once the first data block has gone out (a trace
# file appears only when the run ends).
brevload-cli -v download $T/img.up --device "$a" >$T/unplug.out 2>&1 &
dl=$!
for _ in $(seq 100); do grep -q "WritePage" $T/unplug.out 2>/dev/null && break; sleep 0.1; done
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
if [ -n "$a" ] && grep -qx "arrival $a" $T/monitor.log; then
    pass replug
else
    fail replug "no arrival reported for '$a'"
    # What the kernel saw since the unplug, and where the simulated port stands.
    cat $T/monitor.log
    cat /sys/class/udc/dummy_udc.0/state
    ls /sys/bus/usb/devices
    tail -n 20 $T/ga.log
    dmesg | tail -n 40
fi
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

# --- Look-alikes: the kernel's own mass-storage function with our identity strings, backed by a
# file. It rejects every vendor command, so each operation must fail quickly, name a command that
# was rejected, write nothing to the medium and leave no read-back file behind.
# lookalike SCENARIO INQUIRY: runs every operation against such a device on dummy_udc.1.
lookalike() {
    sc=$1
    head -c 1048576 /dev/urandom >$T/msc.img
    before=$(md5sum <$T/msc.img)
    start_msc gm dummy_udc.1 $T/msc.img "$2" || { fail "$sc" "the kernel's mass-storage gadget did not start"; return; }
    m=$(wait_disk gm)
    why=
    if [ -z "$m" ]; then
        why=" its disk did not appear;"
    elif ! brevload-cli list 2>&1 | grep -qw "$m"; then
        why=" brevload-cli list does not show $m;"
    fi
    for op in "download $T/img.up" "download $T/data2.bin --ex-flash" "erase" "random-test" "read -o $T/msc-read.bin"; do
        [ -n "$m" ] || break
        rm -f $T/msc.trace $T/msc-read.bin
        t0=$(now_ms)
        brevload-cli -v --trace $T/msc.trace $op --device "$m" >$T/msc.out 2>&1 &
        wait_for $! 30
        ms=$(($(now_ms) - t0))
        echo "$sc: brevload-cli $op: status $status in $ms ms"
        grep -v '%$' $T/msc.out | tail -4
        # The commands the device rejected, and whether the output names one of them.
        rejected=$(grep ' fail$' $T/msc.trace 2>/dev/null | cut -d' ' -f3 | cut -c3-4 | sort -u)
        names= named=
        for sub in $rejected; do
            n=$(command_name "$sub")
            names="$names $n"
            grep -qw "$n" $T/msc.out && named=$n
        done
        if [ "$status" = 0 ] || [ "$status" = killed ]; then
            why="$why '$op' ended with status $status;"
        elif [ $ms -gt 10000 ]; then
            why="$why '$op' took $ms ms to fail;"
        elif [ -s $T/msc.trace ] && [ -z "$rejected" ]; then
            why="$why '$op' failed, but the device rejected none of its commands;"
        elif [ -n "$rejected" ] && [ -z "$named" ]; then
            why="$why '$op' names none of the rejected commands:$names;"
        elif [ ! -s $T/msc.trace ] && [ ! -s $T/msc.out ]; then
            why="$why '$op' sent nothing and gave no reason;"
        fi
        [ ! -s $T/msc-read.bin ] || why="$why '$op' wrote $(wc -c <$T/msc-read.bin) bytes to the read-back file;"
    done
    stop_msc gm
    wait_gone gm
    [ "$(md5sum <$T/msc.img)" = "$before" ] || why="$why the backing file changed;"
    if [ -n "$why" ]; then fail "$sc" "${why# }"; else pass "$sc"; fi
}
lookalike lookalike-download "$(printf '%-8s%-16s%-4s' BRVNTIS DEVICE 1.00)"
# PC-mode devices are ours only where the mode file allows PC updates.
printf '[MODE]\npc_update_support=1\n' >"$BREVLOAD_HOME/brevload_files/sys.inf"
lookalike lookalike-pc-mode "$(printf '%-8s%-16s%-4s' BRVNTIS COMP_AUDIO 1.00)"

# An unrelated disk (the kernel's own identity), with every product pattern in use: not listed,
# and no command ever reaches it.
head -c 1048576 /dev/urandom >$T/msc.img
before=$(md5sum <$T/msc.img)
start_msc gm dummy_udc.1 $T/msc.img
m=$(wait_disk gm)
list=$(brevload-cli list 2>&1)
rm -f $T/msc.trace
brevload-cli --trace $T/msc.trace download $T/img.up >$T/msc.out 2>&1
rc=$?
tail -2 $T/msc.out
stop_msc gm
wait_gone gm
rm "$BREVLOAD_HOME/brevload_files/sys.inf"
if [ -z "$m" ]; then
    fail lookalike-other "its disk did not appear"
elif echo "$list" | grep -qw "$m"; then
    fail lookalike-other "brevload-cli list shows $m"
elif [ $rc -eq 0 ]; then
    fail lookalike-other "a download with no device of ours succeeded"
elif [ -s $T/msc.trace ]; then
    fail lookalike-other "commands were sent: $(head -1 $T/msc.trace)"
elif [ "$(md5sum <$T/msc.img)" != "$before" ]; then
    fail lookalike-other "the backing file changed"
else
    pass lookalike-other
fi

# --- sg3-utils as a second client of the gadget: the flash id, a CRC and a 64 KiB block read
# with hand-built command blocks are the bytes brevload-cli reports and reads.
start_gadget gs dummy_udc.0
sd=$(wait_disk gs)
out=$(brevload-cli download $T/img.up --device "$sd" 2>&1)
rc=$?
echo "$out" | tail -4
cli_id=$(row_field "$out" "$sd" 3)
brevload-cli read -o $T/sg-cli.bin --device "$sd" >/dev/null 2>&1
read_rc=$?
sg=$(sg_of "$sd")
inq=$(sg_inq "$sg" 2>&1)
echo "$inq" | grep -i identification
sg_raw -n "$sg" $INIT_CDB &&
    sg_raw -n -r 4 -o $T/sg-id.bin "$sg" $(vendor_cdb 00 4 0) &&
    sg_raw -n -r 2 -o $T/sg-crc.bin "$sg" $(vendor_cdb 82 65536 65536) &&
    sg_raw -n -r 65536 -o $T/sg-block.bin "$sg" $(vendor_cdb 07 65536 65536)
sg_rc=$?
stop_gadget gs
dd if=$T/sg-cli.bin of=$T/sg-cli-block.bin bs=65536 skip=1 count=1 2>/dev/null
dd if=$T/data.bin of=$T/sg-data-block.bin bs=65536 skip=1 count=1 2>/dev/null
sg_id=$(le_hex $T/sg-id.bin)
sg_crc=$(printf '%04X' 0x$(le_hex $T/sg-crc.bin))
cli_crc=$(brevload-e2e-probe crc $T/sg-cli.bin 65536 65536)
echo "sg-raw: flash id $sg_id (brevload-cli: $cli_id), CRC $sg_crc (of brevload-cli's read: $cli_crc)"
if ! command -v sg_raw >/dev/null || ! command -v sg_inq >/dev/null; then
    fail sg-raw "sg_raw or sg_inq is not in the guest (package sg3-utils)"
elif [ $rc -ne 0 ] || [ $read_rc -ne 0 ]; then
    fail sg-raw "brevload-cli download/read ended with $rc/$read_rc"
elif ! echo "$inq" | grep -q "Vendor identification: BRVNTIS" ||
    ! echo "$inq" | grep -q "Product identification: DEVICE"; then
    fail sg-raw "sg_inq does not see the model's identity strings"
elif [ $sg_rc -ne 0 ]; then
    fail sg-raw "an sg_raw command failed ($sg_rc)"
elif [ -z "$cli_id" ] || [ "$sg_id" != "$cli_id" ]; then
    fail sg-raw "flash id $sg_id, brevload-cli reports '$cli_id'"
elif [ "$sg_crc" != "$cli_crc" ]; then
    fail sg-raw "CRC $sg_crc, of the bytes brevload-cli read $cli_crc"
elif ! cmp -s $T/sg-block.bin $T/sg-cli-block.bin || ! cmp -s $T/sg-block.bin $T/sg-data-block.bin; then
    fail sg-raw "the 64 KiB block differs from brevload-cli's read or from the image data"
else
    pass sg-raw
fi

# --- A high-speed device under usb-storage's USB 2.0 limit of 120 KiB per request: the test
# area's 200 KiB WritePage and 512 KiB Read still work, each sent as requests that fit.
start_gadget gh dummy_udc.0 --high-speed -v
h=$(wait_disk gh)
kb=$(cat /sys/block/"$h"/queue/max_hw_sectors_kb 2>/dev/null)
speed=$(usb_attr "$h" speed)
head -c 204800 /dev/urandom >$T/page.bin
brevload-e2e-probe test-area "$h" write-page $T/page.bin
write_rc=$?
brevload-e2e-probe readback "$h" 0 204800 $T/hs-page.bin
rm -f $T/readData.bin
brevload-e2e-probe test-area "$h" read $T/readData.bin
read_rc=$?
brevload-e2e-probe readback "$h" 0 524288 $T/hs-512.bin
stop_gadget gh
# The WritePage data phases the gadget saw: each must fit, together they are the file.
pages=$(grep -o 'cmd C0 02 len [0-9]*' $T/gh.log | awk '{ n++; s += $5; if ($5 > m) m = $5 } END { print n + 0, s + 0, m + 0 }')
echo "high-speed: $speed Mb/s, max_hw_sectors_kb $kb, WritePage requests/bytes/largest: $pages"
set -- $pages
if [ "$speed" != 480 ] || [ "$kb" != 120 ]; then
    fail high-speed "the gadget runs at '$speed' Mb/s with max_hw_sectors_kb '$kb', expected 480 and 120"
elif [ $write_rc -ne 0 ] || ! cmp -s $T/hs-page.bin $T/page.bin; then
    fail high-speed "the 200 KiB WritePage did not land in the flash (status $write_rc, $1 requests reached the gadget)"
elif [ "$2" != 204800 ] || [ "$3" -gt 122880 ]; then
    fail high-speed "the WritePage requests were $1 of $2 bytes in all, the largest $3"
elif [ $read_rc -ne 0 ] || [ ! -f $T/readData.bin ]; then
    fail high-speed "the 512 KiB read failed (status $read_rc)"
elif ! cmp -s $T/readData.bin $T/hs-512.bin; then
    fail high-speed "the 512 KiB read differs from the flash"
else
    pass high-speed "($1 WritePage requests)"
fi

# --- A device that answers Read short: the read-back fails as a short transfer and its file is
# not reported as written. sg_raw shows the short answer on the wire first.
start_gadget gr dummy_udc.0 --short-in 0x07:4096
r=$(wait_disk gr)
sg_raw -n "$(sg_of "$r")" $INIT_CDB >/dev/null 2>&1
sg_raw -n -r 65536 -o $T/short-sg.bin "$(sg_of "$r")" $(vendor_cdb 07 65536 0) >/dev/null 2>&1
wire=$(wc -c <$T/short-sg.bin 2>/dev/null)
brevload-cli read -o $T/short.bin --device "$r" >$T/short.out 2>&1 &
wait_for $! 30
tail -4 $T/short.out
stop_gadget gr
if [ "$wire" != 4096 ]; then
    fail short-read "sg_raw got '$wire' bytes of the 65536 asked, expected 4096"
elif [ "$status" != 1 ]; then
    fail short-read "exit status $status, expected 1"
elif [ "$(row_field "$(cat $T/short.out)" "$r" 2)" = OK ]; then
    fail short-read "the read-back is reported OK"
elif ! grep -q short-transfer $T/short.out; then
    fail short-read "the output does not say short-transfer"
else
    pass short-read
fi

if [ $failures -gt 0 ]; then
    for g in ga gb gx gs gh gr; do
        echo "--- gadget $g log"
        tail -n 40 $T/$g.log
    done
    dmesg | tail -n 60
fi
