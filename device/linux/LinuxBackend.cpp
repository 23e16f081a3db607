#include "device/linux/LinuxBackend.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/Parse.h"
#include "device/linux/SgIo.h"
#include "device/linux/Sysfs.h"

namespace fs = std::filesystem;

namespace brev {

namespace {

constexpr const char* kRulesFile = "70-brevload.rules";

// SCSI peripheral device types.
constexpr int kTypeDisk = 0x00;
constexpr int kTypeWorm = 0x04;
constexpr int kTypeCdRom = 0x05;
constexpr int kTypeOptical = 0x07;
constexpr int kTypeRbc = 0x0e;

std::string BlockDir(const LinuxSystem& sys, const std::string& name) {
    return sys.sysRoot + "/block/" + name;
}

std::optional<int> ReadInt(const std::string& path) {
    const auto text = sysfs::ReadAttribute(path);  // without its trailing newline
    if (!text) return std::nullopt;
    return ParseInteger<int>(*text, NumberBase::DecimalOrHex);
}

// The largest request the path of `name` takes: the smaller of the block queue's hardware and
// current limits and what the sg driver reports for its own queue; 0 when none can be read.
uint32_t PathLimit(const LinuxSystem& sys, const std::string& blockDir, int fd) {
    uint64_t limit = 0;
    auto take = [&limit](uint64_t bytes) {
        if (bytes > 0 && (limit == 0 || bytes < limit)) limit = bytes;
    };
    for (const char* attribute : {"/queue/max_hw_sectors_kb", "/queue/max_sectors_kb"}) {
        if (const auto kb = ReadInt(blockDir + attribute); kb && *kb > 0) take(uint64_t(*kb) * 1024);
    }
    // The sg driver answers in bytes (its queue's max_sectors * 512).
    int bytes = 0;
    if (sys.blkSectGet && sys.blkSectGet(fd, &bytes) == 0 && bytes > 0) take(uint64_t(bytes));
    return static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX));
}

// What sysfs and udev say of the SCSI device in `deviceDir` (a resolved /sys/devices path).
std::optional<VolumeIdentity> IdentityOf(const LinuxSystem& sys, const std::string& deviceDir,
                                         const std::string& name, const std::string& sg) {
    auto vendor = sysfs::ReadAttribute(deviceDir + "/vendor");
    auto product = sysfs::ReadAttribute(deviceDir + "/model");
    if (!vendor || !product) return std::nullopt;
    const std::optional<UsbParent> usb = sys.usbParent ? sys.usbParent(deviceDir, name) : std::nullopt;
    VolumeIdentity id;
    id.bus = usb ? BusType::Usb : BusType::Other;
    id.vendor = std::move(*vendor);
    id.product = std::move(*product);
    if (usb) {
        id.location.portPath = usb->portPath;
        id.location.serial = usb->serial;
    }
    if (!sg.empty()) id.location.sgNode = sys.devRoot + "/" + sg;
    id.location.blockNode = sys.devRoot + "/" + name;
    return id;
}

class LinuxHandle : public IPassThroughHandle {
public:
    LinuxHandle(LinuxSystem sys, int fd, std::string deviceDir, std::string name, std::string sg)
        : sys_(std::move(sys)),
          fd_(fd),
          deviceDir_(std::move(deviceDir)),
          blockDir_(BlockDir(sys_, name)),
          name_(std::move(name)),
          sg_(std::move(sg)) {}
    ~LinuxHandle() override { sys_.close(fd_); }
    LinuxHandle(const LinuxHandle&) = delete;
    LinuxHandle& operator=(const LinuxHandle&) = delete;

    bool Identify(VolumeIdentity& out) override {
        // Read from the device the handle was opened on, so a name reused by another device
        // after a replug cannot lend its strings.
        auto id = IdentityOf(sys_, deviceDir_, name_, sg_);
        if (!id) return false;
        out = std::move(*id);
        return true;
    }

    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        // A data phase needs a buffer and a direction; refuse rather than send a mismatched request.
        if (IsRefusedRequest(cdb, dir, data, length)) {
            TransferResult r;
            r.status = TransferStatus::OsError;
            r.osError = EINVAL;
            r.residual = length;
            return r;
        }
        std::array<unsigned char, kCdbSize> block{};
        std::memcpy(block.data(), cdb, block.size());
        std::array<unsigned char, sgio::kSenseSize> sense{};
        sg_io_hdr_t hdr;
        sgio::FillRequest(hdr, block.data(), dir, data, length, timeoutMs, sense.data());
        const int rc = sys_.sgIo(fd_, &hdr);
        const int err = rc < 0 ? errno : 0;
        return sgio::Outcome(rc, err, hdr);
    }

    uint32_t MaxTransferLength() override { return PathLimit(sys_, blockDir_, fd_); }

private:
    LinuxSystem sys_;
    int fd_;
    std::string deviceDir_;
    std::string blockDir_;
    std::string name_;  // "sdb"
    std::string sg_;    // "sg1"
};

OpenError OpenErrorFor(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
            return OpenError::PermissionDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenError::NotFound;
        case EBUSY:
            return OpenError::Busy;
        default:
            return OpenError::Other;
    }
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

void SetError(OpenError* err, OpenError value) {
    if (err != nullptr) *err = value;
}

}  // namespace

std::vector<VolumeRef> LinuxBackend::ListVolumes() {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(sys_.sysRoot + "/block", ec);
    if (ec) return {};
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (sysfs::IsScsiDiskName(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), sysfs::KernelNameLess);
    std::vector<VolumeRef> volumes;
    volumes.reserve(names.size());
    for (auto& name : names) {
        std::string path = sys_.devRoot + "/" + name;
        volumes.push_back({std::move(name), std::move(path)});
    }
    return volumes;
}

DriveType LinuxBackend::QueryDriveType(const std::string& name, const std::string& path) {
    (void)path;
    if (!sysfs::IsSafeName(name)) return DriveType::Unknown;
    const std::string dir = BlockDir(sys_, name);
    const auto type = ReadInt(dir + "/device/type");
    if (!type) return DriveType::Unknown;
    switch (*type) {
        case kTypeCdRom:
        case kTypeWorm:
            return DriveType::CdRom;
        case kTypeDisk:
        case kTypeOptical:
        case kTypeRbc: {
            const auto removable = ReadInt(dir + "/removable");
            if (!removable) return DriveType::Unknown;
            return *removable != 0 ? DriveType::Removable : DriveType::Fixed;
        }
        default:
            return DriveType::Unknown;
    }
}

std::unique_ptr<IPassThroughHandle> LinuxBackend::OpenVolume(const std::string& name, const std::string& path,
                                                             OpenError* err) {
    (void)path;
    if (!sysfs::IsSafeName(name)) {
        SetError(err, OpenError::NotFound);
        return nullptr;
    }
    std::error_code ec;
    const fs::path deviceDir = fs::canonical(BlockDir(sys_, name) + "/device", ec);
    if (ec) {
        SetError(err, OpenError::NotFound);
        return nullptr;
    }
    const std::string sg = sysfs::ScsiGenericName(deviceDir.string());
    if (sg.empty()) {
        SetError(err, OpenError::NotFound);
        return nullptr;
    }
    // Read-write: for a non-root user the sg driver lets vendor commands through only on a
    // writable open. Non-blocking so a busy device does not hang the open.
    const int fd = sys_.open(sys_.devRoot + "/" + sg, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(err, OpenErrorFor(errno));
        return nullptr;
    }
    SetError(err, OpenError::None);
    return std::make_unique<LinuxHandle>(sys_, fd, deviceDir.string(), name, sg);
}

std::optional<VolumeIdentity> LinuxBackend::PeekIdentity(const std::string& name, const std::string& path) {
    (void)path;
    if (!sysfs::IsSafeName(name)) return std::nullopt;
    std::error_code ec;
    const fs::path deviceDir = fs::canonical(BlockDir(sys_, name) + "/device", ec);
    if (ec) return std::nullopt;
    return IdentityOf(sys_, deviceDir.string(), name, sysfs::ScsiGenericName(deviceDir.string()));
}

std::string LinuxBackend::OpenErrorHint(const std::string& name, const std::string& path, OpenError err) {
    if (!sysfs::IsSafeName(name)) return {};
    std::error_code ec;
    const fs::path deviceDir = fs::canonical(BlockDir(sys_, name) + "/device", ec);
    const std::string sg = ec ? std::string() : sysfs::ScsiGenericName(deviceDir.string());
    const std::string sgPath = sys_.devRoot + "/" + sg;
    switch (err) {
        case OpenError::PermissionDenied:
            return "no permission to open " + (sg.empty() ? path : sgPath) + " (SCSI generic node of " +
                   path + "): install the udev rule " + kRulesFile +
                   " into /etc/udev/rules.d, run 'udevadm control --reload' and 'udevadm trigger', "
                   "then replug the device; or run as root";
        case OpenError::NotFound:
            if (ec) return path + " is no longer present";
            if (sg.empty()) {
                return path + " has no SCSI generic node: load the sg module ('modprobe sg')";
            }
            return sgPath + " (SCSI generic node of " + path + ") does not exist";
        case OpenError::Busy:
            return sgPath + " is busy (opened exclusively by another program)";
        default:
            return {};
    }
}

std::optional<UsbParent> SystemUsbParent(const std::string& deviceDir, const std::string& blockName) {
    udev* context = udev_new();
    if (context == nullptr) return std::nullopt;
    std::optional<UsbParent> found;
    if (udev_device* device = udev_device_new_from_syspath(context, deviceDir.c_str())) {
        // The parent belongs to `device` and goes with it.
        if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
            found.emplace();
            found->portPath = Text(udev_device_get_sysname(usb));
            found->serial = Text(udev_device_get_sysattr_value(usb, "serial"));
        }
        udev_device_unref(device);
    }
    if (found && found->serial.empty()) {
        // udev's database, when its daemon has one, may know a serial the device does not report.
        if (udev_device* block =
                udev_device_new_from_subsystem_sysname(context, "block", blockName.c_str())) {
            found->serial = Text(udev_device_get_property_value(block, "ID_SERIAL_SHORT"));
            udev_device_unref(block);
        }
    }
    udev_unref(context);
    return found;
}

int SystemOpen(const std::string& path, int flags) { return ::open(path.c_str(), flags); }
int SystemSgIo(int fd, sg_io_hdr_t* hdr) { return ::ioctl(fd, SG_IO, hdr); }
int SystemClose(int fd) { return ::close(fd); }
int SystemBlkSectGet(int fd, int* out) { return ::ioctl(fd, BLKSECTGET, out); }

std::shared_ptr<IPassThroughBackend> MakeLinuxBackend() { return MakeLinuxBackend(LinuxSystem{}); }

std::shared_ptr<IPassThroughBackend> MakeLinuxBackend(LinuxSystem sys) {
    return std::make_shared<LinuxBackend>(std::move(sys));
}

}  // namespace brev
