#include "device/windows/WindowsBackend.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/windows/WideText.h"
#include "device/ScsiSense.h"
#include "device/windows/ScsiRequest.h"
#include "device/windows/StorageDescriptor.h"

namespace brev {

namespace {

// Owns one handle from the seam's createFile; closes it through the same seam.
class UniqueHandle {
public:
    UniqueHandle(std::shared_ptr<const WindowsSystem> sys, HANDLE h) : sys_(std::move(sys)), h_(h) {}
    ~UniqueHandle() {
        if (valid()) sys_->closeHandle(h_);
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }

private:
    std::shared_ptr<const WindowsSystem> sys_;
    HANDLE h_;
};

// A device that is gone answers with one of these, depending on the driver stack.
bool IsNoDeviceError(DWORD e) {
    return e == ERROR_DEVICE_NOT_CONNECTED || e == ERROR_FILE_NOT_FOUND || e == ERROR_NOT_READY;
}

TransferStatus TransferStatusFromError(DWORD e) {
    if (IsNoDeviceError(e)) return TransferStatus::NoDevice;
    if (e == ERROR_SEM_TIMEOUT) return TransferStatus::Timeout;
    return TransferStatus::OsError;
}

OpenError OpenErrorFromError(DWORD e) {
    if (IsNoDeviceError(e) || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_DRIVE)
        return OpenError::NotFound;
    if (e == ERROR_ACCESS_DENIED) return OpenError::PermissionDenied;
    if (e == ERROR_SHARING_VIOLATION) return OpenError::Busy;
    return OpenError::Other;
}

class WindowsVolumeHandle : public IPassThroughHandle {
public:
    WindowsVolumeHandle(std::shared_ptr<const WindowsSystem> sys, HANDLE h, std::string name)
        : sys_(sys), handle_(std::move(sys), h), name_(std::move(name)) {}

    bool Identify(VolumeIdentity& out) override {
        STORAGE_PROPERTY_QUERY query;
        std::memset(&query, 0, sizeof query);
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;

        alignas(8) std::array<uint8_t, kDeviceDescriptorSize> answer{};
        const uint32_t size = kDeviceDescriptorSize;
        std::memcpy(answer.data() + offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), &size, sizeof size);

        DWORD returned = 0;
        if (!sys_->deviceIoControl(handle_.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                   answer.data(), static_cast<DWORD>(answer.size()), &returned))
            return false;
        out = ParseDeviceDescriptor(answer.data(), answer.size());
        if (out.bus == BusType::Usb && sys_->usbLocationPath)
            out.location.portPath = sys_->usbLocationPath(handle_.get());
        out.location.blockNode = name_ + ":";
        return true;
    }

    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        TransferResult r;
        r.residual = length;  // until the driver says how much moved
        if (!handle_.valid()) {
            r.status = TransferStatus::NotOpen;
            return r;
        }
        if (IsRefusedRequest(cdb, dir, data, length)) {
            // A data phase needs a buffer and a direction; refuse rather than send a mismatched request.
            r.status = TransferStatus::OsError;
            r.osError = ERROR_INVALID_PARAMETER;
            return r;
        }
        ScsiPassThroughRequest req = BuildPassThroughRequest(cdb, dir, data, length, timeoutMs);
        DWORD returned = 0;
        if (!sys_->deviceIoControl(handle_.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req,
                                   sizeof req, &returned)) {
            const DWORD e = ::GetLastError();  // first thing after the call, before anything resets it
            r.status = TransferStatusFromError(e);
            r.osError = static_cast<int>(e);
            return r;
        }
        // Delivered: the driver leaves in DataTransferLength how many bytes actually moved.
        r.status = TransferStatus::Ok;
        const uint32_t moved = req.sptd.DataTransferLength;
        r.residual = moved < length ? length - moved : 0;
        // A status other than GOOD means the device refused the command.
        r.scsiStatus = req.sptd.ScsiStatus;
        if (r.scsiStatus != 0) {
            r.status = TransferStatus::CheckCondition;
            const std::size_t senseLength = std::min<std::size_t>(req.sptd.SenseInfoLength, kSenseInfoLength);
            DecodeSense(req.sense, senseLength, r);
        }
        return r;
    }

    uint32_t MaxTransferLength() override {
        if (!handle_.valid()) return 0;
        STORAGE_PROPERTY_QUERY query;
        std::memset(&query, 0, sizeof query);
        query.PropertyId = StorageAdapterProperty;
        query.QueryType = PropertyStandardQuery;
        alignas(8) std::array<uint8_t, kAdapterDescriptorSize> answer{};
        DWORD returned = 0;
        if (!sys_->deviceIoControl(handle_.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                   answer.data(), static_cast<DWORD>(answer.size()), &returned))
            return 0;
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return ParseAdapterMaxTransfer(answer.data(), std::min<std::size_t>(returned, answer.size()),
                                       info.dwPageSize);
    }

private:
    std::shared_ptr<const WindowsSystem> sys_;
    UniqueHandle handle_;
    std::string name_;  // the drive letter
};

bool IsDriveLetter(const std::string& name) { return name.size() == 1 && name[0] >= 'A' && name[0] <= 'Z'; }

}  // namespace

VolumeRef VolumeForLetter(char letter) {
    return VolumeRef{std::string(1, letter), std::string("\\\\.\\") + letter + ":"};
}

WindowsBackend::WindowsBackend(WindowsSystem sys)
    : sys_(std::make_shared<const WindowsSystem>(std::move(sys))) {}

std::vector<VolumeRef> WindowsBackend::ListVolumes() {
    const DWORD mask = sys_->getLogicalDrives();
    std::vector<VolumeRef> volumes;
    for (int i = 1; i < 26; ++i) {  // bit 0, drive A, is never probed
        if (mask & (DWORD{1} << i)) volumes.push_back(VolumeForLetter(static_cast<char>('A' + i)));
    }
    return volumes;
}

DriveType WindowsBackend::QueryDriveType(const std::string& name, const std::string& path) {
    (void)path;
    if (!IsDriveLetter(name)) return DriveType::Unknown;
    // The documented form of a drive root has the trailing backslash.
    const wchar_t root[] = {static_cast<wchar_t>(name[0]), L':', L'\\', L'\0'};
    switch (sys_->getDriveType(root)) {
        case DRIVE_REMOVABLE:
            return DriveType::Removable;
        case DRIVE_FIXED:
            return DriveType::Fixed;
        case DRIVE_CDROM:
            return DriveType::CdRom;
        case DRIVE_REMOTE:
            return DriveType::Remote;
        case DRIVE_NO_ROOT_DIR:
            return DriveType::NoRootDir;
        default:
            return DriveType::Unknown;
    }
}

std::unique_ptr<IPassThroughHandle> WindowsBackend::OpenVolume(const std::string& name,
                                                               const std::string& path, OpenError* err) {
    OpenError result = OpenError::None;
    std::unique_ptr<IPassThroughHandle> handle;
    const std::wstring widePath = win::WideFromUtf8(path);
    if (widePath.empty()) {
        result = OpenError::NotFound;
    } else {
        HANDLE h = sys_->createFile(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE || h == nullptr) {
            result = OpenErrorFromError(::GetLastError());
        } else {
            handle = std::make_unique<WindowsVolumeHandle>(sys_, h, name);
        }
    }
    if (err) *err = result;
    return handle;
}

std::string WindowsBackend::OpenErrorHint(const std::string& name, const std::string& path, OpenError err) {
    (void)path;
    if (err != OpenError::PermissionDenied) return {};
    return "Drive " + name +
           ": SCSI pass-through needs administrator rights; run the program as administrator.";
}

std::shared_ptr<IPassThroughBackend> MakeWindowsBackend() {
    return MakeWindowsBackend(WindowsSystem::Real());
}

std::shared_ptr<IPassThroughBackend> MakeWindowsBackend(WindowsSystem sys) {
    return std::make_shared<WindowsBackend>(std::move(sys));
}

}  // namespace brev
