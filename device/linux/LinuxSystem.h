// The system calls and file-system roots the Linux backend uses, gathered in one seam
// so tests can run it against a fake sysfs tree and a scripted SG_IO.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <string>

namespace brev {

// The real calls.
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
};

}  // namespace brev
