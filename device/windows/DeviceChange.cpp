#include "device/windows/DeviceChange.h"

#include <bit>
#include <utility>

#include "device/windows/WindowsBackend.h"

namespace brev {

std::optional<DeviceEvent> DecodeDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
    // Other codes carry no header (or another kind of data): look at lParam only for these two.
    DeviceEvent::Kind kind;
    if (event == DBT_DEVICEARRIVAL) {
        kind = DeviceEvent::Kind::Arrival;
    } else if (event == DBT_DEVICEREMOVECOMPLETE) {
        kind = DeviceEvent::Kind::Removal;
    } else {
        return std::nullopt;
    }
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_VOLUME ||
        header->dbch_size < sizeof(DEV_BROADCAST_VOLUME))
        return std::nullopt;

    const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header);
    const uint32_t mask = volume->dbcv_unitmask & ((uint32_t{1} << 26) - 1);
    if (mask == 0) return std::nullopt;
    // Only the lowest letter is reported, even when the mask names several.
    DeviceEvent e;
    e.kind = kind;
    e.volume = VolumeForLetter(static_cast<char>('A' + std::countr_zero(mask)));
    return e;
}

std::optional<DeviceEvent> DecodeDeviceChangeMessage(WPARAM wParam, LPARAM lParam) {
    return DecodeDeviceChange(wParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
}

}  // namespace brev
