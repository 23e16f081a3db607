// CRCs of an image's data in 4 KiB granules, taken by the image check in its one pass over
// the data. A download asks it for the CRC of each block it writes, so the device is verified
// against the very bytes that were checked (a file changed since its check fails instead of
// being written and reported good), and the data is not run through the CRC a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brev {

class BlockCrcTable {
public:
    static constexpr uint32_t kGranule = 0x1000;

    // Feeds the data in order; every call but the last must be a whole number of granules.
    // False (and nothing taken) when an earlier call ended inside a granule.
    bool Append(const uint8_t* data, size_t length);

    uint64_t dataLength() const { return dataLength_; }

    // CRC-16/CCITT (initial 0xFFFF) of data[offset, offset + length), as the device computes it
    // over the written block. Nothing when the block does not start on a granule, does not end
    // on one or at the end of the data, or reaches past the data.
    std::optional<uint16_t> BlockCrc(uint64_t offset, uint64_t length) const;

    // CRC of the whole data.
    uint16_t DataCrc() const;

private:
    std::vector<uint16_t> granules_;  // CRC of each granule from a zero register
    uint64_t dataLength_ = 0;
};

}  // namespace brev
