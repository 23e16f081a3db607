// The image checker against a plain reading of the format: the same result code for every file,
// and for a good image the block CRC table agrees with a bit-by-bit CRC of every block.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "image/ImageChecker.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

uint16_t BitwiseCrc(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

int Expected(const uint8_t* d, size_t n) {
    if (n < 22) return brev::ImageTooSmall;
    if (std::memcmp(d, "CONFI", 5) != 0) return brev::ImageBadHeader;
    const uint64_t header = Le32(d + 6);
    if (header >= n) return brev::ImageTooSmall;
    if (Le32(d + 16) != n - header) return brev::ImageLengthMismatch;
    if (BitwiseCrc(d + header, n - header) != uint16_t(d[20] | d[21] << 8)) return brev::ImageCrcMismatch;
    return brev::ImageOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/brev-image-fuzz-" + std::to_string(::getpid()) + ".up";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    brev::CImageChecker checker;
    const int code = checker.Check(path);
    FUZZ_CHECK(code == Expected(data, size));
    if (code != brev::ImageOk) return 0;

    const auto table = checker.parser()->GetBlockCrcs();
    FUZZ_CHECK(table != nullptr);
    const uint32_t header = Le32(data + 6);
    const uint64_t length = size - header;
    FUZZ_CHECK(table->dataLength() == length);
    FUZZ_CHECK(table->DataCrc() == BitwiseCrc(data + header, length));
    const uint64_t g = brev::BlockCrcTable::kGranule;
    for (uint64_t offset = 0; offset < length; offset += g) {
        for (uint64_t blockLength : {g, 2 * g, length - offset}) {
            const auto crc = table->BlockCrc(offset, blockLength);
            if (offset + blockLength > length) {
                FUZZ_CHECK(!crc);
                continue;
            }
            FUZZ_CHECK(crc && *crc == BitwiseCrc(data + header + offset, blockLength));
        }
        FUZZ_CHECK(!table->BlockCrc(offset + 1, g));  // not on a granule
    }
    return 0;
}
