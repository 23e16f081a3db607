#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/BlockCrcTable.h"
#include "image/Crc16.h"
#include "tests/support/Pattern.h"

namespace brev {
namespace {

BlockCrcTable Build(const std::vector<uint8_t>& data, size_t chunk) {
    BlockCrcTable table;
    for (size_t at = 0; at < data.size(); at += chunk) {
        EXPECT_TRUE(table.Append(data.data() + at, std::min(chunk, data.size() - at)));
    }
    return table;
}

TEST(Crc16Combine, ZeroFactorIsWhatZeroBytesDoToTheRegister) {
    const std::vector<uint8_t> zeros(70000, 0);
    for (size_t n : {0u, 1u, 2u, 3u, 100u, 4095u, 4096u, 65536u, 70000u}) {
        EXPECT_EQ(Crc16CcittZeroFactor(n), Crc16CcittUpdate(1, zeros.data(), n)) << n;
    }
}

TEST(BlockCrcTableTest, EveryGranuleAlignedBlockHasTheCrcOfItsBytes) {
    for (size_t length : {0u, 1u, 4095u, 4096u, 4097u, 65536u, 70000u, 200000u}) {
        const auto data = test::Pattern(length, 99);
        for (size_t chunk : {size_t{4096}, size_t{65536}}) {
            const BlockCrcTable table = Build(data, chunk);
            ASSERT_EQ(table.dataLength(), length);
            EXPECT_EQ(table.DataCrc(), Crc16Ccitt(data.data(), static_cast<int64_t>(length))) << length;
            for (uint64_t offset = 0; offset <= length; offset += 4096) {
                for (uint64_t size : {uint64_t{0}, uint64_t{4096}, uint64_t{65536}, length - offset}) {
                    if (offset + size > length) continue;
                    const auto crc = table.BlockCrc(offset, size);
                    ASSERT_TRUE(crc.has_value() || (offset + size) % 4096 != 0) << offset << "+" << size;
                    if (crc) {
                        EXPECT_EQ(*crc, Crc16Ccitt(data.data() + offset, static_cast<int64_t>(size)))
                            << length << ": " << offset << "+" << size;
                    }
                }
                // The rest of the data is always a block, wherever it ends.
                EXPECT_TRUE(table.BlockCrc(offset, length - offset).has_value());
            }
        }
    }
}

TEST(BlockCrcTableTest, RefusesBlocksOffTheGranulesOrPastTheData) {
    const auto data = test::Pattern(10000, 99);
    BlockCrcTable table = Build(data, 4096);
    EXPECT_FALSE(table.BlockCrc(1, 4096));     // start inside a granule
    EXPECT_FALSE(table.BlockCrc(0, 5000));     // end inside a granule, not at the end
    EXPECT_FALSE(table.BlockCrc(8192, 4096));  // past the end
    EXPECT_FALSE(table.BlockCrc(12288, 0));    // starts past the end
    EXPECT_FALSE(table.BlockCrc(4096, UINT64_MAX));
    // The last call ended inside a granule: nothing more can follow.
    EXPECT_FALSE(table.Append(data.data(), 4096));
    EXPECT_EQ(table.dataLength(), 10000u);
}

}  // namespace
}  // namespace brev
