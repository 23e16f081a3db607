// The Windows pass-through backend: volumes are drive letters, commands go through
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the volume handle (\\.\E:).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/PassThrough.h"
#include "device/windows/WindowsSystem.h"

namespace brev {

// The volume of drive `letter` ('A'..'Z'): name "E", path \\.\E:.
VolumeRef VolumeForLetter(char letter);

// Thread-safe: it keeps no state beyond `sys`; every open makes its own handle.
class WindowsBackend : public IPassThroughBackend {
public:
    explicit WindowsBackend(WindowsSystem sys);

    // The letters B..Z that GetLogicalDrives reports, in letter order; drive A is never listed.
    std::vector<VolumeRef> ListVolumes() override;
    // GetDriveTypeW on the root of `name` (a single letter); Unknown for any other name.
    DriveType QueryDriveType(const std::string& name, const std::string& path) override;
    // CreateFileW on `path`, read and write access and sharing. NotFound when the volume is not
    // there, PermissionDenied on ERROR_ACCESS_DENIED, Busy on a sharing violation.
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override;
    std::string OpenErrorHint(const std::string& name, const std::string& path, OpenError err) override;

private:
    std::shared_ptr<const WindowsSystem> sys_;
};

std::shared_ptr<IPassThroughBackend> MakeWindowsBackend();
std::shared_ptr<IPassThroughBackend> MakeWindowsBackend(WindowsSystem sys);

}  // namespace brev
