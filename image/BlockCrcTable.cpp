#include "image/BlockCrcTable.h"

#include <algorithm>

#include "image/Crc16.h"

namespace brev {

bool BlockCrcTable::Append(const uint8_t* data, size_t length) {
    if (length == 0) return true;
    if (data == nullptr || dataLength_ % kGranule != 0) return false;
    for (size_t at = 0; at < length; at += kGranule) {
        const size_t n = std::min<size_t>(kGranule, length - at);
        granules_.push_back(Crc16CcittUpdate(0, data + at, n));
    }
    dataLength_ += length;
    return true;
}

std::optional<uint16_t> BlockCrcTable::BlockCrc(uint64_t offset, uint64_t length) const {
    if (offset % kGranule != 0 || offset > dataLength_ || length > dataLength_ - offset) return std::nullopt;
    const uint64_t end = offset + length;
    if (end % kGranule != 0 && end != dataLength_) return std::nullopt;

    static const uint16_t kGranuleFactor = Crc16CcittZeroFactor(kGranule);
    uint16_t fromZero = 0;
    for (uint64_t at = offset; at < end; at += kGranule) {
        const uint64_t n = std::min<uint64_t>(kGranule, end - at);
        const uint16_t factor = n == kGranule ? kGranuleFactor : Crc16CcittZeroFactor(n);
        fromZero = static_cast<uint16_t>(Crc16CcittMultiply(fromZero, factor) ^ granules_[at / kGranule]);
    }
    return static_cast<uint16_t>(Crc16CcittMultiply(kCrc16CcittInit, Crc16CcittZeroFactor(length)) ^
                                 fromZero);
}

uint16_t BlockCrcTable::DataCrc() const { return *BlockCrc(0, dataLength_); }

}  // namespace brev
