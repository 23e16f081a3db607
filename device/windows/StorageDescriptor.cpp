#include "device/windows/StorageDescriptor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/windows/WideText.h"
#include "device/windows/WindowsSystem.h"
#include "device/windows/WireFormat.h"

namespace brev {

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == wire::kVendorIdOffsetAt);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == wire::kProductIdOffsetAt);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == wire::kSerialNumberOffsetAt);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == wire::kBusTypeAt);
static_assert(BusTypeUsb == wire::kBusTypeUsb);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) == wire::kMaximumTransferLengthAt);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages) == wire::kMaximumPhysicalPagesAt);
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) <= kAdapterDescriptorSize);

VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size) {
    return wire::ParseDeviceDescriptor(buffer, size, win::Utf8FromAnsi);
}

std::string FirstMultiString(const wchar_t* data, std::size_t units) {
    if (data == nullptr) return {};
    const std::wstring_view all(data, units);
    return win::Utf8FromWide(all.substr(0, all.find(L'\0')));
}

uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize) {
    return wire::ParseAdapterMaxTransfer(buffer, size, pageSize);
}

}  // namespace brev
