// Start-up drive scan: probes every volume the backend lists and keeps the matching ones.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/MassDevice.h"

namespace brev {

struct PresentDevice {
    std::string name;         // the device's identity: row name, job argument, notification target
    std::string devicePath;   // what opens it
    std::string productId;    // as identified when found (tells PC-mode devices apart)
    DeviceLocation location;  // port path, serial and nodes as found
    std::string slot;         // the fixture's label for its port; empty when unmapped
};

// The device called `name` in `devices`, or null.
inline const PresentDevice* FindPresentDevice(const std::vector<PresentDevice>& devices,
                                              const std::string& name) {
    for (const PresentDevice& d : devices)
        if (d.name == name) return &d;
    return nullptr;
}

inline PresentDevice* FindPresentDevice(std::vector<PresentDevice>& devices, const std::string& name) {
    return const_cast<PresentDevice*>(FindPresentDevice(std::as_const(devices), name));
}

class CMutilMassStorage {
public:
    CMutilMassStorage(std::shared_ptr<IPassThroughBackend> backend, PatternList productPatterns,
                      PatternList vendorPatterns);
    virtual ~CMutilMassStorage() = default;

    // Probes the listed volumes in the backend's order and appends every match to devices(). Returns 0.
    // devices() is never cleared: a second Scan() appends the same devices again.
    int Scan();
    // Scan(), then appends a copy of the whole of devices() to `out` (not cleared first).
    void GetDevices(std::vector<PresentDevice>& out);
    // Every match of every scan so far, in the order found.
    const std::vector<PresentDevice>& devices() const { return devices_; }
    // Volumes that could not be opened for lack of permission during the last scan, with a hint each.
    const std::vector<std::string>& permissionProblems() const { return permissionProblems_; }

private:
    std::shared_ptr<IPassThroughBackend> backend_;
    PatternList productPatterns_;
    PatternList vendorPatterns_;
    std::vector<PresentDevice> devices_;
    std::vector<std::string> permissionProblems_;
};

}  // namespace brev
