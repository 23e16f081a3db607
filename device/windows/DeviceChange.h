// Arrival and removal of volumes from the WM_DEVICECHANGE broadcasts that Windows sends to
// every top-level window; the window hands each message to DecodeDeviceChange.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "device/DeviceEvents.h"
#include "device/windows/WindowsSystem.h"

namespace brev {

// DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE of a volume (DBT_DEVTYP_VOLUME) give one event
// for the lowest letter of the unit mask; every other message gives none. `header` may be null.
std::optional<DeviceEvent> DecodeDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header);
// The same for the raw message parameters.
std::optional<DeviceEvent> DecodeDeviceChangeMessage(WPARAM wParam, LPARAM lParam);

// Queues the decoded broadcasts for a reader that polls; it has no descriptor (Fd() is -1).
class WindowsDeviceEvents : public IDeviceEventSource {
public:
    // Called from the window's WM_DEVICECHANGE handler; true when an event was queued.
    bool OnDeviceChange(WPARAM wParam, LPARAM lParam);
    int Fd() const override { return -1; }
    std::vector<DeviceEvent> ReadEvents() override;

private:
    std::mutex mutex_;
    std::vector<DeviceEvent> pending_;
};

}  // namespace brev
