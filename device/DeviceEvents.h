// A source of arrival and removal events (udev monitor, WM_DEVICECHANGE decoding, simulated bus).
#pragma once

#include <vector>

#include "device/PassThrough.h"

namespace brev {

class IDeviceEventSource {
public:
    virtual ~IDeviceEventSource() = default;
    // Readable when events are pending, so a Qt notifier or a poll() loop can wait on it;
    // -1 when the source has no descriptor and must be polled with ReadEvents().
    virtual int Fd() const = 0;
    // Drains the pending events without blocking, oldest first.
    virtual std::vector<DeviceEvent> ReadEvents() = 0;
};

}  // namespace brev
