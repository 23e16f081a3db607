// Small readers of the sysfs tree under a configurable root.
#pragma once

#include <optional>
#include <string>

namespace brev::sysfs {

// A kernel device name usable as one path component: not empty, no '/', not "." or "..".
bool IsSafeName(const std::string& name);
// A disk or CD-ROM name this backend serves: "sd" + letters or "sr" + digits.
bool IsScsiDiskName(const std::string& name);
// Kernel order: sd before sr, then shorter names first, then alphabetical.
bool KernelNameLess(const std::string& a, const std::string& b);

// Contents of an attribute file without the one trailing newline sysfs adds; nothing when unreadable.
std::optional<std::string> ReadAttribute(const std::string& path);

// The name of the SCSI generic node ("sg1") bound to the device in `deviceDir`; empty when none.
std::string ScsiGenericName(const std::string& deviceDir);

}  // namespace brev::sysfs
