#!/bin/busybox sh
# PID 1 of the end-to-end guest: mounts, loads the USB gadget and storage modules, runs the
# scenarios and powers off. The host reads the verdict from the serial console.
/bin/busybox --install -s /bin
export PATH=/bin:/opt/brev/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
while read -r ko; do
    case "${ko##*/}" in
        dummy_hcd.ko) args="num=2 is_super_speed=1" ;;  # two UDCs: dummy_udc.0 and dummy_udc.1
        usb-storage.ko) args="delay_use=0" ;;  # no settle delay before the SCSI scan
        *) args="" ;;
    esac
    insmod "$ko" $args || echo "e2e: insmod $ko failed"
done < /etc/modules
mount -t configfs configfs /sys/kernel/config
echo "E2E BOOTED $(cut -d' ' -f1 /proc/uptime) s"
sh /opt/brev/scenarios.sh
echo "E2E END"
poweroff -f
