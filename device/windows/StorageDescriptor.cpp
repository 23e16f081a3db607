#include "device/windows/StorageDescriptor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/Bytes.h"
#include "base/windows/WideText.h"
#include "device/windows/WindowsSystem.h"

namespace brev {

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(BusTypeUsb == 7);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) == 8);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages) == 12);
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) <= kAdapterDescriptorSize);

namespace {

std::string StringAt(const uint8_t* buffer, std::size_t size, uint32_t offset) {
    if (offset == 0) return "(NULL)";
    if (offset >= size) return {};
    const char* start = reinterpret_cast<const char*>(buffer + offset);
    const void* nul = std::memchr(start, 0, size - offset);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : size - offset;
    return win::Utf8FromAnsi(std::string_view(start, length));
}

}  // namespace

VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size) {
    VolumeIdentity id;
    if (buffer == nullptr || size < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(uint32_t))
        return id;
    const uint32_t bus = GetLe32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
    id.bus = bus == BusTypeUsb ? BusType::Usb : BusType::Other;
    id.vendor = StringAt(buffer, size, GetLe32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset)));
    id.product =
        StringAt(buffer, size, GetLe32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset)));
    // No serial is offset 0 here, not "(NULL)"; drivers pad it with blanks.
    if (const uint32_t at = GetLe32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset));
        at != 0 && at != UINT32_MAX) {
        std::string serial = StringAt(buffer, size, at);
        const auto first = serial.find_first_not_of(' ');
        id.location.serial =
            first == std::string::npos ? "" : serial.substr(first, serial.find_last_not_of(' ') - first + 1);
    }
    return id;
}

std::string FirstMultiString(const wchar_t* data, std::size_t units) {
    if (data == nullptr) return {};
    const std::wstring_view all(data, units);
    return win::Utf8FromWide(all.substr(0, all.find(L'\0')));
}

uint32_t ParseAdapterMaxTransfer(const uint8_t* buffer, std::size_t size, uint32_t pageSize) {
    constexpr std::size_t kPagesAt = offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages);
    if (buffer == nullptr || size < kPagesAt + sizeof(uint32_t)) return 0;
    const uint64_t length = GetLe32(buffer + offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength));
    const uint64_t pages = uint64_t{GetLe32(buffer + kPagesAt)} * pageSize;
    uint64_t limit = length;
    if (pages != 0 && (limit == 0 || pages < limit)) limit = pages;
    return static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX));
}

}  // namespace brev
