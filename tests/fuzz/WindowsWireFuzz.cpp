// What the Windows backend reads from the system: the storage device and adapter descriptors
// and the volume broadcast of a device change, against a plain reading of their layouts.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/Bytes.h"
#include "device/windows/WireFormat.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::string AsIs(std::string_view bytes) { return std::string(bytes); }

// The string at the offset stored at `at`, as the layout defines it.
std::string PlainString(const uint8_t* data, size_t size, size_t at) {
    const uint32_t offset = brev::GetLe32(data + at);
    if (offset == 0) return "(NULL)";
    if (offset >= size) return {};
    std::string s;
    for (size_t i = offset; i < size && data[i] != 0; ++i) s += static_cast<char>(data[i]);
    return s;
}

void CheckDescriptor(const uint8_t* data, size_t size) {
    namespace wire = brev::wire;
    const brev::VolumeIdentity id = wire::ParseDeviceDescriptor(data, size, AsIs);
    if (size < wire::kBusTypeAt + 4) {
        FUZZ_CHECK(id.bus == brev::BusType::Unknown && id.vendor.empty() && id.product.empty());
        FUZZ_CHECK(id.location.serial.empty());
        return;
    }
    FUZZ_CHECK((id.bus == brev::BusType::Usb) ==
               (brev::GetLe32(data + wire::kBusTypeAt) == wire::kBusTypeUsb));
    FUZZ_CHECK(id.vendor == PlainString(data, size, wire::kVendorIdOffsetAt));
    FUZZ_CHECK(id.product == PlainString(data, size, wire::kProductIdOffsetAt));
    const std::string& serial = id.location.serial;
    if (!serial.empty()) {
        FUZZ_CHECK(serial.front() != ' ' && serial.back() != ' ');
        FUZZ_CHECK(PlainString(data, size, wire::kSerialNumberOffsetAt).find(serial) != std::string::npos);
    }
}

void CheckAdapter(const uint8_t* data, size_t size) {
    namespace wire = brev::wire;
    const uint32_t pageSize = 4096;
    const uint32_t limit = wire::ParseAdapterMaxTransfer(data, size, pageSize);
    if (size < wire::kMaximumPhysicalPagesAt + 4) {
        FUZZ_CHECK(limit == 0);
        return;
    }
    const uint64_t length = brev::GetLe32(data + wire::kMaximumTransferLengthAt);
    const uint64_t pages = uint64_t{brev::GetLe32(data + wire::kMaximumPhysicalPagesAt)} * pageSize;
    FUZZ_CHECK((limit == 0) == (length == 0 && pages == 0));
    if (length != 0) FUZZ_CHECK(limit <= length);
    if (pages != 0) FUZZ_CHECK(limit <= pages);
    FUZZ_CHECK(limit == length || limit == pages || limit == UINT32_MAX);
}

void CheckBroadcast(const uint8_t* data, size_t size) {
    namespace wire = brev::wire;
    const auto letter = wire::VolumeBroadcastLetter(data, size);
    if (!letter) return;
    FUZZ_CHECK(size >= wire::kVolumeBroadcastSize);
    FUZZ_CHECK(brev::GetLe32(data + wire::kBroadcastTypeAt) == wire::kDeviceTypeVolume);
    FUZZ_CHECK(brev::GetLe32(data + wire::kBroadcastSizeAt) >= wire::kVolumeBroadcastSize);
    FUZZ_CHECK(*letter >= 'A' && *letter <= 'Z');
    const uint32_t mask = brev::GetLe32(data + wire::kUnitMaskAt);
    const uint32_t bit = uint32_t{1} << (*letter - 'A');
    FUZZ_CHECK((mask & bit) != 0 && (mask & (bit - 1)) == 0);  // the lowest letter named
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One input exercises all three: the same bytes are a descriptor, an adapter answer and a
    // broadcast. The event code comes from the first byte.
    CheckDescriptor(data, size);
    CheckAdapter(data, size);
    CheckBroadcast(data, size);
    const uint64_t event = size > 0 ? (data[0] & 1 ? brev::wire::kDeviceArrival : 0x8004u + data[0]) : 0;
    const auto kind = brev::wire::DeviceChangeKind(event);
    FUZZ_CHECK(kind.has_value() ==
               (event == brev::wire::kDeviceArrival || event == brev::wire::kDeviceRemoveComplete));
    return 0;
}
