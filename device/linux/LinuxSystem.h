// The system calls and file-system roots the Linux backend uses, gathered in one seam
// so tests can run it against a fake sysfs tree and a scripted SG_IO.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <optional>
#include <string>

namespace brev {

// The USB device a disk sits on.
struct UsbParent {
    std::string portPath;  // its kernel name, the port path: "1-2.3"
    std::string serial;    // empty when the device has none
};

// The real calls.
// The USB device above the SCSI device in `deviceDir` (a /sys/devices path), from libudev;
// nothing when it sits on no USB device. `blockName` ("sdb") finds udev's ID_SERIAL_SHORT
// when the device itself reports no serial.
std::optional<UsbParent> SystemUsbParent(const std::string& deviceDir, const std::string& blockName);
int SystemOpen(const std::string& path, int flags);
int SystemSgIo(int fd, sg_io_hdr_t* hdr);
int SystemClose(int fd);
// ioctl(fd, BLKSECTGET, out): on an sg node, the largest request its queue takes, in bytes.
int SystemBlkSectGet(int fd, int* out);

// Defaults are the real system.
struct LinuxSystem {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    // A udev daemon runs when <runRoot>/udev/control exists.
    std::string runRoot = "/run";
    // Same contract as the system calls: -1 with errno set on failure.
    std::function<int(const std::string& path, int flags)> open = SystemOpen;
    std::function<int(int fd, sg_io_hdr_t* hdr)> sgIo = SystemSgIo;  // ioctl(fd, SG_IO, hdr)
    std::function<int(int fd)> close = SystemClose;
    std::function<int(int fd, int* out)> blkSectGet = SystemBlkSectGet;  // null: not asked
    // libudev reads the real /sys only, so a fake tree answers here for it.
    std::function<std::optional<UsbParent>(const std::string& deviceDir, const std::string& blockName)>
        usbParent = SystemUsbParent;
};

}  // namespace brev
