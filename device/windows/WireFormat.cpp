#include "device/windows/WireFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/Bytes.h"

namespace brev::wire {

namespace {

std::string StringAt(const uint8_t* buffer, std::size_t size, uint32_t offset, AnsiToUtf8 convert) {
    if (offset == 0) return "(NULL)";
    if (offset >= size) return {};
    const char* start = reinterpret_cast<const char*>(buffer + offset);
    const void* nul = std::memchr(start, 0, size - offset);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : size - offset;
    return convert(std::string_view(start, length));
}

}  // namespace

VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size, AnsiToUtf8 convert) {
    VolumeIdentity id;
    if (buffer == nullptr || size < kBusTypeAt + sizeof(uint32_t)) return id;
    id.bus = GetLe32(buffer + kBusTypeAt) == kBusTypeUsb ? BusType::Usb : BusType::Other;
    id.vendor = StringAt(buffer, size, GetLe32(buffer + kVendorIdOffsetAt), convert);
    id.product = StringAt(buffer, size, GetLe32(buffer + kProductIdOffsetAt), convert);
    // No serial is offset 0 here, not "(NULL)"; drivers pad it with blanks.
    if (const uint32_t at = GetLe32(buffer + kSerialNumberOffsetAt); at != 0 && at != UINT32_MAX) {
        std::string serial = StringAt(buffer, size, at, convert);
        const auto first = serial.find_first_not_of(' ');
        id.location.serial =
            first == std::string::npos ? "" : serial.substr(first, serial.find_last_not_of(' ') - first + 1);
    }
    return id;
}

uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize) {
    if (buffer == nullptr || size < kMaximumPhysicalPagesAt + sizeof(uint32_t)) return 0;
    const uint64_t length = GetLe32(buffer + kMaximumTransferLengthAt);
    const uint64_t pages = uint64_t{GetLe32(buffer + kMaximumPhysicalPagesAt)} * pageSize;
    uint64_t limit = length;
    if (pages != 0 && (limit == 0 || pages < limit)) limit = pages;
    return static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX));
}

std::optional<DeviceEvent::Kind> DeviceChangeKind(uint64_t event) {
    if (event == kDeviceArrival) return DeviceEvent::Kind::Arrival;
    if (event == kDeviceRemoveComplete) return DeviceEvent::Kind::Removal;
    return std::nullopt;
}

std::optional<char> VolumeBroadcastLetter(const uint8_t* broadcast, std::size_t size) {
    if (broadcast == nullptr || size < kVolumeBroadcastSize) return std::nullopt;
    if (GetLe32(broadcast + kBroadcastTypeAt) != kDeviceTypeVolume ||
        GetLe32(broadcast + kBroadcastSizeAt) < kVolumeBroadcastSize)
        return std::nullopt;
    const uint32_t mask = GetLe32(broadcast + kUnitMaskAt) & ((uint32_t{1} << 26) - 1);
    if (mask == 0) return std::nullopt;
    // Only the lowest letter is reported, even when the mask names several.
    return static_cast<char>('A' + std::countr_zero(mask));
}

}  // namespace brev::wire
