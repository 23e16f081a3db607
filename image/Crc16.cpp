#include "image/Crc16.h"

#include <array>

namespace brev {
namespace {

constexpr uint16_t kPoly = 0x1021;
constexpr int kSlices = 16;

using Tables = std::array<std::array<uint16_t, 256>, kSlices>;

// tables[k][b]: the CRC contribution of byte b followed by k zero bytes, so that
// 16 input bytes fold into the register with 16 independent look-ups.
constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned b = 0; b < 256; ++b) {
        auto crc = static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc =
                (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ kPoly) : static_cast<uint16_t>(crc << 1);
        }
        t[0][b] = crc;
    }
    for (int k = 1; k < kSlices; ++k) {
        for (unsigned b = 0; b < 256; ++b) {
            const uint16_t prev = t[k - 1][b];
            t[k][b] = static_cast<uint16_t>((prev << 8) ^ t[0][prev >> 8]);
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x1021);

}  // namespace

uint16_t Crc16CcittUpdate(uint16_t crc, const uint8_t* data, size_t length) {
    const auto& t = kTables;
    while (length >= kSlices) {
        const uint8_t* p = data;
        crc = static_cast<uint16_t>(t[15][p[0] ^ (crc >> 8)] ^ t[14][p[1] ^ (crc & 0xFF)] ^ t[13][p[2]] ^
                                    t[12][p[3]] ^ t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^
                                    t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^
                                    t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]]);
        data += kSlices;
        length -= kSlices;
    }
    while (length-- > 0) {
        crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *data++]);
    }
    return crc;
}

uint16_t Crc16CcittMultiply(uint16_t crc, uint16_t factor) {
    // Carry-less product reduced by the polynomial, Horner's rule over the factor's bits.
    uint16_t r = 0;
    for (int bit = 15; bit >= 0; --bit) {
        r = (r & 0x8000) ? static_cast<uint16_t>((r << 1) ^ kPoly) : static_cast<uint16_t>(r << 1);
        if ((factor >> bit) & 1) r ^= crc;
    }
    return r;
}

uint16_t Crc16CcittZeroFactor(uint64_t zeroBytes) {
    uint16_t result = 1;      // x^0
    uint16_t power = 0x0100;  // x^8: one zero byte
    for (; zeroBytes != 0; zeroBytes >>= 1) {
        if (zeroBytes & 1) result = Crc16CcittMultiply(result, power);
        power = Crc16CcittMultiply(power, power);
    }
    return result;
}

uint16_t Crc16Ccitt(const uint8_t* data, int64_t length) {
    if (data == nullptr || length <= 0) {
        return kCrc16CcittInit;
    }
    return Crc16CcittUpdate(kCrc16CcittInit, data, static_cast<size_t>(length));
}

}  // namespace brev
