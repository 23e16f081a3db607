// The fixture's slot labels (which label is printed beside which USB port), how a device is
// named for an operator, and the one rule that tells whether a device is the one asked for.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "device/CMutilMassStorage.h"

namespace brev {

// Port path ("1-2.1") -> label ("A1"), from a slots file:
//   [slots]
//   1-2.1=A1
class SlotMap {
public:
    // False with a reason when the file cannot be read; a file without [slots] maps nothing.
    bool Load(const std::filesystem::path& file, std::string& error);
    // The label of the port; empty when the port is unmapped or unknown.
    std::string LabelFor(const std::string& portPath) const;
    bool empty() const { return labels_.empty(); }

private:
    std::map<std::string, std::string> labels_;
};

// A device as an operator reads it: "sim0 [A1]", or the name alone without a slot.
std::string DeviceLabel(const std::string& name, const std::string& slot);
std::string DeviceLabel(const PresentDevice& device);
// Everything that tells the device apart, for a tooltip: "sim0 [A1]  0-1  BRVSIM0000".
std::string DeviceTip(const PresentDevice& device);

// True when `selector` names `device`: "port:1-2.3", "serial:XYZ", "slot:A1", or otherwise its
// name ("sdb", "sim0"), a node ("/dev/sdb", "/dev/sg2"; a drive letter "E:") or the path it is
// opened by.
bool MatchDevice(const std::string& selector, const PresentDevice& device);

}  // namespace brev
