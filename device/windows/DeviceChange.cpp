#include "device/windows/DeviceChange.h"

#include <cstddef>
#include <cstdint>

#include "device/windows/WindowsBackend.h"
#include "device/windows/WireFormat.h"

namespace brev {

static_assert(DBT_DEVICEARRIVAL == wire::kDeviceArrival);
static_assert(DBT_DEVICEREMOVECOMPLETE == wire::kDeviceRemoveComplete);
static_assert(DBT_DEVTYP_VOLUME == wire::kDeviceTypeVolume);
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_size) == wire::kBroadcastSizeAt);
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_devicetype) == wire::kBroadcastTypeAt);
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) == wire::kUnitMaskAt);
static_assert(sizeof(DEV_BROADCAST_VOLUME) == wire::kVolumeBroadcastSize);

std::optional<DeviceEvent> DecodeDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
    // Other codes carry no header (or another kind of data): look at lParam only for these two.
    const std::optional<DeviceEvent::Kind> kind = wire::DeviceChangeKind(event);
    if (!kind || header == nullptr) return std::nullopt;
    // The broadcast says how long it is.
    const auto letter =
        wire::VolumeBroadcastLetter(reinterpret_cast<const uint8_t*>(header), header->dbch_size);
    if (!letter) return std::nullopt;
    DeviceEvent e;
    e.kind = *kind;
    e.volume = VolumeForLetter(*letter);
    return e;
}

std::optional<DeviceEvent> DecodeDeviceChangeMessage(WPARAM wParam, LPARAM lParam) {
    return DecodeDeviceChange(wParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
}

}  // namespace brev
