// The Linux pass-through backend: volumes are SCSI disks and CD-ROMs (sdb, sr0) found in
// sysfs, and commands go through SG_IO on their SCSI generic nodes (/dev/sgN).
#pragma once

#include <memory>
#include <string>

#include "device/DeviceEvents.h"
#include "device/PassThrough.h"
#include "device/linux/LinuxSystem.h"

namespace brev {

// Thread-safe: it keeps no state beyond `sys`; every open makes its own handle.
class LinuxBackend : public IPassThroughBackend {
public:
    explicit LinuxBackend(LinuxSystem sys) : sys_(std::move(sys)) {}

    // Present sd* then sr* devices, each group in kernel order: shorter names first, then
    // alphabetical (sdb, sdc, ..., sdz, sdaa; sr0, ..., sr9, sr10).
    std::vector<VolumeRef> ListVolumes() override;
    // Removable or Fixed for a disk by its `removable` attribute, CdRom for SCSI type 5 (or 4),
    // Unknown for anything else or a name that is not there.
    DriveType QueryDriveType(const std::string& name, const std::string& path) override;
    // Opens the SCSI generic node of `name` read-write. NotFound when the device or its sg node
    // is missing, PermissionDenied on EACCES/EPERM.
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override;
    // Bus, vendor and product from sysfs and the location from libudev, before any node is opened.
    std::optional<VolumeIdentity> PeekIdentity(const std::string& name, const std::string& path) override;
    std::string OpenErrorHint(const std::string& name, const std::string& path, OpenError err) override;

private:
    LinuxSystem sys_;
};

std::shared_ptr<IPassThroughBackend> MakeLinuxBackend();
std::shared_ptr<IPassThroughBackend> MakeLinuxBackend(LinuxSystem sys);

// Arrival and removal of sd*/sr* disks: from udev when its daemon runs (the nodes then have
// their permissions), otherwise from the kernel's own uevents. Null when neither can be opened.
std::unique_ptr<IDeviceEventSource> MakeLinuxHotplugMonitor();
std::unique_ptr<IDeviceEventSource> MakeLinuxHotplugMonitor(const LinuxSystem& sys);

}  // namespace brev
