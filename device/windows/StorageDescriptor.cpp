#include "device/windows/StorageDescriptor.h"

#include <cstring>
#include <string>

#include "device/windows/WindowsSystem.h"

namespace brev {

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(BusTypeUsb == 7);

namespace {

uint32_t ReadU32(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);  // the buffer has no alignment guarantee
    return v;
}

std::string StringAt(const uint8_t* buffer, std::size_t size, uint32_t offset) {
    if (offset == 0) return "(NULL)";
    if (offset >= size) return {};
    const char* start = reinterpret_cast<const char*>(buffer + offset);
    const void* nul = std::memchr(start, 0, size - offset);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : size - offset;
    return AnsiToUtf8(start, length);
}

}  // namespace

std::string AnsiToUtf8(const char* text, std::size_t length) {
    if (length == 0) return {};
    const int n = static_cast<int>(length);
    const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, text, n, wide.data(), wideLength) != wideLength) return {};
    const int utf8Length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) return {};
    std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr,
                              nullptr) != utf8Length)
        return {};
    return utf8;
}

VolumeIdentity ParseDeviceDescriptor(const uint8_t* buffer, std::size_t size) {
    VolumeIdentity id;
    if (buffer == nullptr || size < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(uint32_t))
        return id;
    id.bus = ReadU32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)) == BusTypeUsb ? BusType::Usb
                                                                                          : BusType::Other;
    id.vendor = StringAt(buffer, size, ReadU32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset)));
    id.product =
        StringAt(buffer, size, ReadU32(buffer + offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset)));
    return id;
}

}  // namespace brev
