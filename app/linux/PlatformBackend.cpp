#include "app/PlatformBackend.h"

#include "device/linux/LinuxBackend.h"

namespace brev {

std::shared_ptr<IPassThroughBackend> MakePlatformBackend() { return MakeLinuxBackend(); }

std::unique_ptr<IDeviceEventSource> MakePlatformHotplug() { return MakeLinuxHotplugMonitor(); }

}  // namespace brev
