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

TEST(ScsiSense, SaysTheSenseInWords) {
    struct Case {
        uint8_t key, asc, ascq;
        const char* text;
    };
    const Case cases[] = {
        {0x05, 0x20, 0x00, "illegal request: invalid command operation code (05/20/00)"},
        {0x02, 0x04, 0x02, "not ready: not ready, initializing command required (02/04/02)"},
        {0x02, 0x04, 0x01, "not ready: logical unit not ready (02/04/01)"},
        {0x06, 0x29, 0x03, "unit attention: power on, reset or bus device reset occurred (06/29/03)"},
        {0x04, 0x44, 0x00, "hardware error: internal target failure (04/44/00)"},
        {0x05, 0x24, 0x01, "illegal request (05/24/01)"},  // a qualifier without words of its own
        {0x0B, 0x47, 0x03, "aborted command (0B/47/03)"},
        {0xF3, 0x11, 0x00,
         "medium error: unrecovered read error (03/11/00)"},  // only the low nibble is the key
    };
    for (const Case& c : cases) EXPECT_EQ(SenseText(c.key, c.asc, c.ascq), c.text);
}

}  // namespace
}  // namespace brev
