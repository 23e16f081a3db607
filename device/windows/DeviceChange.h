// Arrival and removal of volumes from the WM_DEVICECHANGE broadcasts that Windows sends to
// every top-level window; the window hands each message to DecodeDeviceChange.
#pragma once

#include <optional>

#include "device/DeviceEvents.h"
#include "device/windows/WindowsSystem.h"

namespace brev {

// DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE of a volume (DBT_DEVTYP_VOLUME) give one event
// for the lowest letter of the unit mask; every other message gives none. `header` may be null.
std::optional<DeviceEvent> DecodeDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header);
// The same for the raw message parameters.
std::optional<DeviceEvent> DecodeDeviceChangeMessage(WPARAM wParam, LPARAM lParam);

}  // namespace brev
