// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, MSB first, no final XOR.
// Used for image checks and for verifying blocks against the CRC the device computes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brev {

inline constexpr uint16_t kCrc16CcittInit = 0xFFFF;

// CRC of one whole range; a length of 0 or less yields 0xFFFF.
uint16_t Crc16Ccitt(const uint8_t* data, int64_t length);

// Streaming form: start with kCrc16CcittInit and feed the ranges in order.
uint16_t Crc16CcittUpdate(uint16_t crc, const uint8_t* data, size_t length);

// The register is linear in its start value and in the data, so CRCs of pieces combine:
//   Crc16CcittUpdate(c, A+B) == Crc16CcittMultiply(Crc16CcittUpdate(c, A), Crc16CcittZeroFactor(|B|))
//                               ^ Crc16CcittUpdate(0, B)
// Crc16CcittZeroFactor(n) is x^(8n) mod the polynomial: what n zero bytes do to the register.
uint16_t Crc16CcittZeroFactor(uint64_t zeroBytes);
uint16_t Crc16CcittMultiply(uint16_t crc, uint16_t factor);

}  // namespace brev
