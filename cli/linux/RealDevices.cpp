#include "cli/RealDevices.h"

#include "device/linux/LinuxBackend.h"

namespace brev::cli {

std::shared_ptr<IPassThroughBackend> MakeRealBackend() { return MakeLinuxBackend(); }

std::unique_ptr<IDeviceEventSource> MakeRealHotplugMonitor() { return MakeLinuxHotplugMonitor(); }

}  // namespace brev::cli
