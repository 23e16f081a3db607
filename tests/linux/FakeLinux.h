// A fake sysfs tree in a temporary folder and a scripted SG_IO, for driving the Linux backend.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/linux/LinuxBackend.h"
#include "tests/support/TempDir.h"

namespace brev::test {

namespace fs = std::filesystem;

struct FakeDisk {
    std::string name;  // sdb, sr0
    int scsiType = 0;  // 0 disk, 5 CD-ROM
    bool removable = true;
    bool usb = true;
    std::string vendor = "BRVNTIS ";
    std::string product = "DEVICE          ";
    std::string sg = "sg1";  // empty: no SCSI generic node bound
    std::string serial;      // the USB device's serial number
    std::string port;        // its port path; empty: "1-N", N counting the disks added
};

class FakeSysfs {
public:
    FakeSysfs() {
        fs::create_directories(root_ / "sys/block");
        fs::create_directories(root_ / "sys/bus/usb");
        fs::create_directories(root_ / "sys/bus/pci");
        fs::create_directories(root_ / "run");
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    std::string sysRoot() const { return (root_ / "sys").string(); }
    std::string devRoot() const { return (root_ / "dev").string(); }
    std::string runRoot() const { return (root_ / "run").string(); }

    // Lays the disk out as the kernel does: a SCSI device below its host, below a USB
    // device and interface or below a PCI controller, with /sys/block/<name> pointing at it.
    void Add(const FakeDisk& d) {
        const int n = next_++;
        const std::string host = "host" + std::to_string(n), hctl = std::to_string(n) + ":0:0:0";
        fs::path pci = root_ / "sys/devices/pci0000:00/0000:00:14.0";
        if (!fs::exists(pci)) {
            Dir(pci);
            Link(pci / "subsystem", root_ / "sys/bus/pci");
        }
        fs::path parent = pci;
        if (d.usb) {
            const std::string port = d.port.empty() ? "1-" + std::to_string(n) : d.port;
            fs::path usbDev = pci / "usb1" / port;
            Dir(usbDev);
            Link(usbDev / "subsystem", root_ / "sys/bus/usb");
            Write(usbDev / "devnum", std::to_string(n + 1));
            Write(usbDev / "idVendor", "1234");
            fs::path intf = usbDev / (port + ":1.0");
            Dir(intf);
            Link(intf / "subsystem", root_ / "sys/bus/usb");
            parent = intf;
        } else {
            parent = pci / ("ata" + std::to_string(n));
            Dir(parent);
        }
        fs::path scsiDev = parent / host / ("target" + std::to_string(n) + ":0:0") / hctl;
        Dir(scsiDev);
        if (d.usb)
            usbParents_[fs::canonical(scsiDev).string()] =
                UsbParent{parent.parent_path().filename().string(), d.serial};
        Write(scsiDev / "type", std::to_string(d.scsiType));
        Write(scsiDev / "vendor", d.vendor);
        Write(scsiDev / "model", d.product);
        if (!d.sg.empty()) Dir(scsiDev / "scsi_generic" / d.sg);
        fs::path block = scsiDev / "block" / d.name;
        Dir(block);
        Write(block / "removable", d.removable ? "1" : "0");
        blocks_[d.name] = block;
        Link(block / "device", scsiDev);
        Link(root_ / "sys/block" / d.name, block);
        devices_[d.name] = scsiDev;
    }

    // A block device that is no SCSI disk (virtio, loop): no device/type.
    void AddOther(const std::string& name) {
        fs::path block = root_ / "sys/devices/virtual/block" / name;
        Dir(block);
        Write(block / "removable", "0");
        Link(root_ / "sys/block" / name, block);
    }

    // queue/max_hw_sectors_kb and queue/max_sectors_kb of a disk's block device; unset: no file.
    void SetQueueLimits(const std::string& name, std::optional<int> hwKb, std::optional<int> currentKb) {
        const fs::path queue = blocks_.at(name) / "queue";
        Dir(queue);
        if (hwKb) Write(queue / "max_hw_sectors_kb", std::to_string(*hwKb));
        if (currentKb) Write(queue / "max_sectors_kb", std::to_string(*currentKb));
    }

    // Unplugs: the device's directories vanish.
    void Remove(const std::string& name) {
        fs::remove_all(devices_.at(name));
        fs::remove(root_ / "sys/block" / name);
    }

    LinuxSystem System() const {
        LinuxSystem sys;
        sys.sysRoot = sysRoot();
        sys.devRoot = devRoot();
        sys.runRoot = runRoot();
        sys.open = [](const std::string&, int) {
            errno = ENOSYS;
            return -1;
        };
        sys.sgIo = [](int, sg_io_hdr_t*) {
            errno = ENOSYS;
            return -1;
        };
        sys.close = [](int) { return 0; };
        sys.blkSectGet = [](int, int*) {
            errno = ENOTTY;
            return -1;
        };
        // What libudev would find above the device, as the tree was laid out.
        sys.usbParent = [this](const std::string& deviceDir, const std::string&) -> std::optional<UsbParent> {
            const auto it = usbParents_.find(deviceDir);
            if (it == usbParents_.end()) return std::nullopt;
            return it->second;
        };
        return sys;
    }

private:
    static void Dir(const fs::path& p) { fs::create_directories(p); }
    // sysfs attributes end with a newline the backend must drop.
    static void Write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text << '\n';
    }
    static void Link(const fs::path& link, const fs::path& target) {
        fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
    }

    test::TempDir dir_{"brev-linux"};
    fs::path root_ = dir_.path();
    int next_ = 0;
    std::map<std::string, fs::path> devices_;
    std::map<std::string, fs::path> blocks_;
    std::map<std::string, UsbParent> usbParents_;  // by the SCSI device's resolved folder
};

// What one SG_IO call was asked, copied while the request was alive.
struct RecordedRequest {
    sg_io_hdr_t hdr{};
    std::vector<uint8_t> cdb;
    std::vector<uint8_t> dataOut;
};

// The answer the fake SG_IO gives to the next request.
struct ScriptedAnswer {
    int errnoValue = 0;  // non-zero: the ioctl fails with it
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> dataIn;
};

// Records every open, close and SG_IO; answers as scripted.
struct FakeCalls {
    std::vector<std::pair<std::string, int>> opens;
    std::vector<int> closes;
    std::vector<RecordedRequest> requests;
    int openErrno = 0;
    ScriptedAnswer answer;
    int nextFd = 40;
    std::optional<int> sgMaxBytes;     // BLKSECTGET's answer on the sg node; unset: the ioctl fails
    std::optional<uint32_t> outMoved;  // data-out: bytes the adapter took (unset: all of them)

    void Install(LinuxSystem& sys) {
        sys.open = [this](const std::string& path, int flags) {
            opens.emplace_back(path, flags);
            if (openErrno != 0) {
                errno = openErrno;
                return -1;
            }
            return nextFd++;
        };
        sys.close = [this](int fd) {
            closes.push_back(fd);
            return 0;
        };
        sys.blkSectGet = [this](int, int* out) {
            if (!sgMaxBytes) {
                errno = ENOTTY;
                return -1;
            }
            *out = *sgMaxBytes;
            return 0;
        };
        sys.sgIo = [this](int, sg_io_hdr_t* hdr) {
            RecordedRequest rec;
            rec.hdr = *hdr;
            rec.cdb.assign(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
            if (hdr->dxfer_direction == SG_DXFER_TO_DEV && hdr->dxferp != nullptr) {
                const auto* p = static_cast<const uint8_t*>(hdr->dxferp);
                rec.dataOut.assign(p, p + hdr->dxfer_len);
            }
            requests.push_back(std::move(rec));
            if (answer.errnoValue != 0) {
                errno = answer.errnoValue;
                return -1;
            }
            if (hdr->dxfer_direction == SG_DXFER_FROM_DEV) {
                const std::size_t n = std::min<std::size_t>(answer.dataIn.size(), hdr->dxfer_len);
                if (n > 0) std::memcpy(hdr->dxferp, answer.dataIn.data(), n);
                hdr->resid = static_cast<int>(hdr->dxfer_len - n);
            }
            if (hdr->dxfer_direction == SG_DXFER_TO_DEV && outMoved) {
                hdr->resid = static_cast<int>(hdr->dxfer_len - std::min(*outMoved, hdr->dxfer_len));
            }
            hdr->status = answer.status;
            hdr->masked_status = static_cast<unsigned char>((answer.status >> 1) & 0x7f);
            hdr->host_status = answer.hostStatus;
            hdr->driver_status = answer.driverStatus;
            const std::size_t sb = std::min<std::size_t>(answer.sense.size(), hdr->mx_sb_len);
            if (sb > 0) std::memcpy(hdr->sbp, answer.sense.data(), sb);
            hdr->sb_len_wr = static_cast<unsigned char>(sb);
            return 0;
        };
    }
};

}  // namespace brev::test
