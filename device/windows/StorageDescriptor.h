// The identification request: IOCTL_STORAGE_QUERY_PROPERTY for the device descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/PassThrough.h"

namespace brev {

// Answer buffer size; the descriptor's Size field is set to it before the request.
constexpr std::size_t kDeviceDescriptorSize = 551;

// wire::ParseDeviceDescriptor, with strings converted from the ANSI code page.
VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size);

// The first string of a REG_MULTI_SZ value (`units` UTF-16 code units, terminators included or
// not), in UTF-8: the first of a device's location paths.
std::string FirstMultiString(const wchar_t* data, std::size_t units);

// Answer buffer size of the adapter query (IOCTL_STORAGE_QUERY_PROPERTY, StorageAdapterProperty).
constexpr std::size_t kAdapterDescriptorSize = 64;

// wire::ParseAdapterMaxTransfer.
uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize);

}  // namespace brev
