// The devices of the platform the program was built for; one implementation per platform,
// chosen by the build.
#pragma once

#include <memory>

#include "device/DeviceEvents.h"
#include "device/PassThrough.h"

namespace brev {

// The platform's pass-through backend; null when it cannot be set up.
std::shared_ptr<IPassThroughBackend> MakePlatformBackend();
// Arrivals and removals as the platform reports them to any process; null where they reach only
// a window (Windows: WM_DEVICECHANGE, which the window hands over itself) or cannot be watched.
std::unique_ptr<IDeviceEventSource> MakePlatformHotplug();

}  // namespace brev
