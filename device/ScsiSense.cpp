#include "device/ScsiSense.h"

namespace brev {

void DecodeSense(const uint8_t* sense, std::size_t length, TransferResult& out) {
    if (sense == nullptr || length < 1) return;
    const uint8_t code = sense[0] & 0x7F;  // bit 7 is the VALID flag of the information field
    std::size_t keyAt = 0, ascAt = 0;
    if (code == 0x70 || code == 0x71) {
        keyAt = 2;
        ascAt = 12;
    } else if (code == 0x72 || code == 0x73) {
        keyAt = 1;
        ascAt = 2;
    } else {
        return;
    }
    if (length > keyAt) out.senseKey = sense[keyAt] & 0x0F;
    if (length > ascAt) out.asc = sense[ascAt];
    if (length > ascAt + 1) out.ascq = sense[ascAt + 1];
}

}  // namespace brev
