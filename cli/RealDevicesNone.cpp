#include "cli/RealDevices.h"

namespace brev::cli {

std::shared_ptr<IPassThroughBackend> MakeRealBackend() { return nullptr; }

std::unique_ptr<IDeviceEventSource> MakeRealHotplugMonitor() { return nullptr; }

}  // namespace brev::cli
