// The two hot-plug sources behind MakeLinuxHotplugMonitor, for callers that need one of them.
#pragma once

#include <memory>
#include <string>

#include "device/DeviceEvents.h"

namespace brev {

// udev's monitor: events come after udev has made the node and set its permissions.
// Null when it cannot be created.
std::unique_ptr<IDeviceEventSource> MakeUdevMonitor(const std::string& devRoot);

// The kernel's own uevents, for systems without a udev daemon. The node may appear a moment
// after the event. Only messages sent by the kernel are taken. Null when the socket cannot be made.
std::unique_ptr<IDeviceEventSource> MakeKernelUeventMonitor(const std::string& devRoot);

}  // namespace brev
