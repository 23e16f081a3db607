// Hot-plug messages to device events: only whole SCSI disks and CD-ROMs (sd*, sr*) count.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "device/PassThrough.h"

namespace brev {

// The event for one block-device change, or nothing when it is not the "add" or "remove" of
// an sd*/sr* disk. `devname` may be the kernel name ("sdb") or the node ("/dev/sdb").
std::optional<DeviceEvent> BlockDiskEvent(std::string_view action, std::string_view subsystem,
                                          std::string_view devtype, std::string_view devname,
                                          const std::string& devRoot);

// One kernel uevent datagram ("add@/devices/...\0ACTION=add\0SUBSYSTEM=block\0...").
std::optional<DeviceEvent> ParseKernelUevent(const char* data, std::size_t length,
                                             const std::string& devRoot);

}  // namespace brev
