// What the Linux backend reads from the kernel: uevent datagrams, sysfs names and SG_IO
// outcomes. An event only ever names a whole SCSI disk under the node folder, in its own
// message; names sort as a strict order; an outcome never reports more moved than was asked.
#include <scsi/sg.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "device/linux/SgIo.h"
#include "device/linux/Sysfs.h"
#include "device/linux/Uevent.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

template <typename T>
T Take(const uint8_t*& p, size_t& n) {
    T v{};
    const size_t k = n < sizeof v ? n : sizeof v;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
}

void CheckUevent(const uint8_t* data, size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const auto event = brev::ParseKernelUevent(message.data(), message.size(), "/dev");
    if (!event) return;
    const std::string& name = event->volume.name;
    FUZZ_CHECK(brev::sysfs::IsScsiDiskName(name) && brev::sysfs::IsSafeName(name));
    FUZZ_CHECK(event->volume.path == "/dev/" + name);
    FUZZ_CHECK(message.find('@') < message.find('\0'));  // a kernel message, not udev's
    FUZZ_CHECK(message.find(std::string_view("SUBSYSTEM=block\0", 16)) != std::string_view::npos ||
               message.ends_with("SUBSYSTEM=block"));
    FUZZ_CHECK(message.find(name) != std::string_view::npos);
}

void CheckNames(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const auto third = all.size() / 3;
    const std::string a(all.substr(0, third)), b(all.substr(third, third)), c(all.substr(2 * third));
    using brev::sysfs::KernelNameLess;
    FUZZ_CHECK(!KernelNameLess(a, a));
    FUZZ_CHECK(!(KernelNameLess(a, b) && KernelNameLess(b, a)));
    if (KernelNameLess(a, b) && KernelNameLess(b, c)) FUZZ_CHECK(KernelNameLess(a, c));
    if (brev::sysfs::IsScsiDiskName(a)) FUZZ_CHECK(brev::sysfs::IsSafeName(a));
    if (brev::sysfs::IsSafeName(a))
        FUZZ_CHECK(a != "." && a != ".." && a.find('/') == std::string::npos && !a.empty());
}

void CheckOutcome(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    size_t n = size;
    uint8_t sense[32] = {};
    sg_io_hdr_t hdr{};
    const int rc = Take<int8_t>(p, n);
    const int err = Take<uint8_t>(p, n);
    hdr.dxfer_len = Take<uint32_t>(p, n);
    hdr.resid = Take<int32_t>(p, n);
    hdr.status = Take<uint8_t>(p, n);
    hdr.masked_status = Take<uint8_t>(p, n);
    hdr.host_status = Take<uint16_t>(p, n);
    hdr.driver_status = Take<uint16_t>(p, n);
    hdr.sb_len_wr = Take<uint8_t>(p, n) % (sizeof sense + 1);
    hdr.info = Take<uint32_t>(p, n);
    hdr.mx_sb_len = sizeof sense;
    std::memcpy(sense, p, n < sizeof sense ? n : sizeof sense);
    hdr.sbp = sense;
    const brev::TransferResult r = brev::sgio::Outcome(rc, err, hdr);
    FUZZ_CHECK(r.residual <= hdr.dxfer_len);
    if (rc < 0) FUZZ_CHECK(!r.delivered() && r.residual == hdr.dxfer_len);
    if (r.ok()) FUZZ_CHECK(rc >= 0 && r.osError == 0 && r.scsiStatus == 0 && hdr.host_status == 0);
    // Sense comes only from sense data the kernel wrote.
    if (r.senseKey != 0 || r.asc != 0 || r.ascq != 0) FUZZ_CHECK(rc >= 0 && hdr.sb_len_wr > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the reader, so one corpus serves all three.
    switch (data[0] % 3) {
        case 0:
            CheckUevent(data + 1, size - 1);
            break;
        case 1:
            CheckNames(data + 1, size - 1);
            break;
        default:
            CheckOutcome(data + 1, size - 1);
    }
    return 0;
}
