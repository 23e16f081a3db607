// Arrivals and removals reach the program through the station's monitor, not the window.
#include "ui/NativeDeviceEvents.h"

namespace brev::ui {

std::optional<DeviceEvent> DecodeNativeDeviceEvent(const QByteArray&, const void*) { return std::nullopt; }

}  // namespace brev::ui
