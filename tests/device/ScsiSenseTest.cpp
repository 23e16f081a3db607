// Sense decoding: both formats, and never a byte past what the device wrote.
#include <gtest/gtest.h>

#include <vector>

#include "device/ScsiSense.h"

namespace brev {
namespace {

struct SenseCase {
    const char* what;
    std::vector<uint8_t> sense;  // all of it is passed as written
    uint8_t key, asc, ascq;
};

TEST(ScsiSense, DecodesBothFormatsWithinTheWrittenLength) {
    // Bytes beyond what a case passes hold values that must never show up.
    const SenseCase cases[] = {
        {"fixed, current", {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x01}, 0x05, 0x24, 0x01},
        {"fixed, deferred, VALID bit set",
         {0xF1, 0, 0x53, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x3A, 0x02},
         0x03,
         0x3A,
         0x02},
        {"fixed, cut after the ASC", {0x70, 0, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29}, 0x06, 0x29, 0},
        {"fixed, cut before the ASC", {0x70, 0, 0x02, 0, 0, 0, 0, 0x0A}, 0x02, 0, 0},
        {"fixed, cut before the key", {0x70, 0}, 0, 0, 0},
        {"descriptor, current", {0x72, 0x02, 0x04, 0x02, 0, 0, 0, 0}, 0x02, 0x04, 0x02},
        {"descriptor, deferred", {0x73, 0x0B, 0x47, 0x03}, 0x0B, 0x47, 0x03},
        {"descriptor, cut after the key", {0x72, 0x05}, 0x05, 0, 0},
        {"unknown response code", {0x7F, 0x05, 0x05, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x01}, 0, 0, 0},
        {"nothing written", {}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> buffer = c.sense;
        buffer.resize(32, 0xEE);
        TransferResult r;
        DecodeSense(buffer.data(), c.sense.size(), r);
        EXPECT_EQ(r.senseKey, c.key);
        EXPECT_EQ(r.asc, c.asc);
        EXPECT_EQ(r.ascq, c.ascq);
    }
    TransferResult r;
    DecodeSense(nullptr, 18, r);
    EXPECT_EQ(r.senseKey, 0);
}

}  // namespace
}  // namespace brev
