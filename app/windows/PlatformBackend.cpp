#include "app/PlatformBackend.h"

#include "device/windows/WindowsBackend.h"

namespace brev {

std::shared_ptr<IPassThroughBackend> MakePlatformBackend() { return MakeWindowsBackend(); }

// Volume arrivals come as WM_DEVICECHANGE broadcasts to top-level windows; the window decodes them.
std::unique_ptr<IDeviceEventSource> MakePlatformHotplug() { return nullptr; }

}  // namespace brev
