// The identification request: IOCTL_STORAGE_QUERY_PROPERTY for the device descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/PassThrough.h"

namespace brev {

// Answer buffer size; the descriptor's Size field is set to it before the request.
constexpr std::size_t kDeviceDescriptorSize = 551;

// Bus type (u32 at 28, 7 is USB) and the vendor and product strings whose offsets are the
// u32s at 12 and 16: offset 0 reads "(NULL)", an offset outside the buffer reads empty, and a
// string ends at its NUL or at the end of the buffer. Strings are converted from the ANSI
// code page to UTF-8 and not trimmed. The serial number (offset at 24) goes to location.serial
// without its surrounding blanks; offset 0 or one outside the buffer means none.
VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size);

// The first string of a REG_MULTI_SZ value (`units` UTF-16 code units, terminators included or
// not), in UTF-8: the first of a device's location paths.
std::string FirstMultiString(const wchar_t* data, std::size_t units);

// Answer buffer size of the adapter query (IOCTL_STORAGE_QUERY_PROPERTY, StorageAdapterProperty).
constexpr std::size_t kAdapterDescriptorSize = 64;

// The largest request the adapter takes, from its descriptor: MaximumTransferLength (u32 at 8) and
// MaximumPhysicalPages (u32 at 12) times `pageSize`, the smaller of the two that are set (non-zero);
// 0 when `size` does not reach them or neither is set.
uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize);

}  // namespace brev
