#include <gtest/gtest.h>

#include <array>

#include "base/Bytes.h"

namespace brev {
namespace {

TEST(Bytes, LittleAndBigEndianRoundTripWithTheirByteOrder) {
    std::array<uint8_t, 4> b{};
    PutLe32(b.data(), 0x12345678);
    EXPECT_EQ(b, (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(GetLe32(b.data()), 0x12345678u);
    EXPECT_EQ(GetLe16(b.data()), 0x5678u);
    PutBe32(b.data(), 0x12345678);
    EXPECT_EQ(b, (std::array<uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(GetBe32(b.data()), 0x12345678u);
    EXPECT_EQ(GetBe16(b.data()), 0x1234u);
    PutLe16(b.data(), 0xBEEF);
    PutBe16(b.data() + 2, 0xBEEF);
    EXPECT_EQ(b, (std::array<uint8_t, 4>{0xEF, 0xBE, 0xBE, 0xEF}));
    // The top bit survives (no sign extension through int promotion).
    const std::array<uint8_t, 4> high{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(GetLe32(high.data()), 0xFFFFFFFFu);
    EXPECT_EQ(GetBe32(high.data()), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace brev
