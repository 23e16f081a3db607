// The byte layouts Windows hands the backend (the storage device and adapter descriptors, the
// volume broadcast of WM_DEVICECHANGE), decoded without <windows.h>: the backend checks these
// offsets against the real structures at compile time, and the decoders can be exercised on
// any platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/DeviceEvents.h"
#include "device/PassThrough.h"

namespace brev::wire {

// STORAGE_DEVICE_DESCRIPTOR
inline constexpr std::size_t kVendorIdOffsetAt = 12;
inline constexpr std::size_t kProductIdOffsetAt = 16;
inline constexpr std::size_t kSerialNumberOffsetAt = 24;
inline constexpr std::size_t kBusTypeAt = 28;
inline constexpr uint32_t kBusTypeUsb = 7;
// STORAGE_ADAPTER_DESCRIPTOR
inline constexpr std::size_t kMaximumTransferLengthAt = 8;
inline constexpr std::size_t kMaximumPhysicalPagesAt = 12;
// WM_DEVICECHANGE: DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME and
// DEV_BROADCAST_VOLUME (dbch_size at 0, dbch_devicetype at 4, dbcv_unitmask at 12).
inline constexpr uint64_t kDeviceArrival = 0x8000;
inline constexpr uint64_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypeVolume = 2;
inline constexpr std::size_t kBroadcastSizeAt = 0;
inline constexpr std::size_t kBroadcastTypeAt = 4;
inline constexpr std::size_t kUnitMaskAt = 12;
inline constexpr std::size_t kVolumeBroadcastSize = 20;

// Bytes in the ANSI code page to UTF-8 (the backend passes the system's conversion).
using AnsiToUtf8 = std::string (*)(std::string_view);

// Bus type (u32 at 28, 7 is USB) and the vendor and product strings whose offsets are the
// u32s at 12 and 16: offset 0 reads "(NULL)", an offset outside the buffer reads empty, and a
// string ends at its NUL or at the end of the buffer. Strings are converted with `convert` and
// not trimmed. The serial number (offset at 24) goes to location.serial without its
// surrounding blanks; offset 0 or one outside the buffer means none.
VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size, AnsiToUtf8 convert);

// The largest request the adapter takes: MaximumTransferLength (u32 at 8) and
// MaximumPhysicalPages (u32 at 12) times `pageSize`, the smaller of the two that are set
// (non-zero); 0 when `size` does not reach them or neither is set.
uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize);

// Arrival or removal for the two device-change codes that concern volumes; none for the others
// (whose lParam carries no broadcast at all).
std::optional<DeviceEvent::Kind> DeviceChangeKind(uint64_t event);

// The lowest drive letter of a volume broadcast of `size` readable bytes; none for another
// kind of broadcast, a broadcast shorter than a volume's, or a unit mask without letters.
std::optional<char> VolumeBroadcastLetter(const uint8_t* broadcast, std::size_t size);

}  // namespace brev::wire
