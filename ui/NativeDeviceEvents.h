// Device arrivals and removals that the platform delivers as messages to the window itself
// (Windows: WM_DEVICECHANGE broadcasts to top-level windows). One implementation per platform,
// chosen by the build.
#pragma once

#include <QByteArray>
#include <optional>

#include "device/DeviceEvents.h"

namespace brev::ui {

// The arrival or removal a native message (as QWidget::nativeEvent gets it) announces; nothing
// for every other message, and always nothing where the platform reports devices elsewhere.
std::optional<DeviceEvent> DecodeNativeDeviceEvent(const QByteArray& eventType, const void* message);

}  // namespace brev::ui
