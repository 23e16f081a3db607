// WM_DEVICECHANGE: the device layer decodes the message and filters its codes.
#include "ui/NativeDeviceEvents.h"

#include <windows.h>

#include "device/windows/DeviceChange.h"

namespace brev::ui {

std::optional<DeviceEvent> DecodeNativeDeviceEvent(const QByteArray& eventType, const void* message) {
    if (message == nullptr || eventType != "windows_generic_MSG") return std::nullopt;
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_DEVICECHANGE) return std::nullopt;
    return DecodeDeviceChangeMessage(msg->wParam, msg->lParam);
}

}  // namespace brev::ui
