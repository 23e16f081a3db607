// A small NOR flash behind the fake backend: programming only clears bits, so a write into
// a unit that was not erased reads back wrong and its CRC does not match.
#pragma once

#include <cstring>
#include <vector>

#include "base/Bytes.h"
#include "image/Crc16.h"
#include "tests/device/FakeBackend.h"

namespace brev::test {

struct FakeFlash {
    std::vector<uint8_t> mem = std::vector<uint8_t>(0x80000, 0x00);  // old contents, not erased
    bool swapCrc = false;
    uint16_t crcXor = 0;  // corrupts the answered CRC

    Handler handler() {
        return [this](const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length) {
            const uint32_t len = brev::GetLe32(cdb + 2);
            const uint32_t addr = brev::GetLe32(cdb + 6);
            auto inRange = [&](uint32_t a, uint32_t n) { return uint64_t{a} + n <= mem.size(); };
            switch (cdb[1]) {
                case cmd::Erase4K:
                case cmd::Erase64K:
                case cmd::LoaderErase4K: {
                    const uint32_t unit = cdb[1] == cmd::Erase64K ? 0x10000 : 0x1000;
                    const uint32_t start = addr & ~(unit - 1);
                    if (dir != DataDirection::None || !inRange(start, unit)) break;
                    std::memset(&mem[start], 0xFF, unit);
                    return TransferResult{};
                }
                case cmd::WritePage:
                case cmd::LoaderWrite:
                    if (dir != DataDirection::Out || length != len || !inRange(addr, len)) break;
                    for (uint32_t i = 0; i < len; ++i) mem[addr + i] &= data[i];
                    return TransferResult{};
                case cmd::GetCrc16:
                case cmd::LoaderGetCrc16: {
                    if (dir != DataDirection::In || length != 2 || !inRange(addr, len)) break;
                    const uint16_t crc = static_cast<uint16_t>(Crc16Ccitt(mem.data() + addr, len) ^ crcXor);
                    data[swapCrc ? 1 : 0] = static_cast<uint8_t>(crc);
                    data[swapCrc ? 0 : 1] = static_cast<uint8_t>(crc >> 8);
                    return TransferResult{};
                }
                default:
                    return TransferResult{};
            }
            return Status(TransferStatus::CheckCondition, 0x02);
        };
    }
};

}  // namespace brev::test
