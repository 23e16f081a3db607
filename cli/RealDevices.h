// The platform's own devices, for runs without --simulate.
#pragma once

#include <memory>

#include "device/DeviceEvents.h"
#include "device/PassThrough.h"

namespace brev::cli {

// Null where the tool has no backend for this platform.
std::shared_ptr<IPassThroughBackend> MakeRealBackend();
// Arrivals and removals; null when they cannot be watched.
std::unique_ptr<IDeviceEventSource> MakeRealHotplugMonitor();

}  // namespace brev::cli
