#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/Crc16.h"
#include "tests/support/Pattern.h"

namespace brev {
namespace {

// The definition itself, one bit at a time: the table-driven routine must agree with it.
uint16_t BitwiseCrc(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF) {
    for (size_t i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool dataBit = (data[i] >> bit) & 1;
            const bool topBit = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (dataBit != topBit) {
                crc ^= 0x1021;
            }
        }
    }
    return crc;
}

TEST(Crc16Test, PublishedCheckValueAndEmptyRanges) {
    const char* text = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    EXPECT_EQ(Crc16Ccitt(bytes, 9), 0x29B1);
    EXPECT_EQ(Crc16Ccitt(bytes, 0), 0xFFFF);
    EXPECT_EQ(Crc16Ccitt(bytes, -5), 0xFFFF);
    EXPECT_EQ(Crc16Ccitt(nullptr, 0), 0xFFFF);
    EXPECT_EQ(Crc16CcittUpdate(kCrc16CcittInit, bytes, 0), 0xFFFF);
}

TEST(Crc16Test, MatchesBitwiseReferenceForManyLengthsAndSplits) {
    const std::vector<uint8_t> data = test::Pattern(70000 + 3, 12345);
    std::mt19937 rng(12345);  // the split points
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 70; ++n) {
        lengths.push_back(n);
    }
    for (size_t n : {127u, 128u, 129u, 255u, 1000u, 4096u, 65535u, 65536u, 69999u}) {
        lengths.push_back(n);
    }
    for (size_t length : lengths) {
        // Start at an odd offset so unaligned input is covered too.
        const uint8_t* p = data.data() + 3;
        const uint16_t expected = BitwiseCrc(p, length);
        ASSERT_EQ(Crc16Ccitt(p, static_cast<int64_t>(length)), expected) << "length " << length;

        // Streaming over two or three random pieces gives the same value.
        for (int trial = 0; trial < 4; ++trial) {
            const size_t a = length == 0 ? 0 : rng() % (length + 1);
            const size_t b = a + (length == a ? 0 : rng() % (length - a + 1));
            uint16_t crc = kCrc16CcittInit;
            crc = Crc16CcittUpdate(crc, p, a);
            crc = Crc16CcittUpdate(crc, p + a, b - a);
            crc = Crc16CcittUpdate(crc, p + b, length - b);
            ASSERT_EQ(crc, expected) << "length " << length << " split " << a << "," << b;
        }
    }
}

}  // namespace
}  // namespace brev
