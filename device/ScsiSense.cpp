#include "device/ScsiSense.h"

#include <cstdio>

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

namespace {

const char* SenseKeyWords(uint8_t key) {
    static constexpr const char* kKeys[16] = {
        "no sense",       "recovered error", "not ready",      "medium error",
        "hardware error", "illegal request", "unit attention", "data protect",
        "blank check",    "vendor specific", "copy aborted",   "aborted command",
        "reserved",       "volume overflow", "miscompare",     "completed"};
    return kKeys[key & 0x0F];
}

// The additional sense codes these devices and their bridges answer with.
const char* AdditionalSenseWords(uint8_t asc, uint8_t ascq) {
    struct Entry {
        uint8_t asc;
        int ascq;  // -1: any qualifier
        const char* words;
    };
    static constexpr Entry kEntries[] = {
        {0x04, 0x02, "not ready, initializing command required"},
        {0x04, -1, "logical unit not ready"},
        {0x0C, -1, "write error"},
        {0x11, -1, "unrecovered read error"},
        {0x1D, 0x00, "miscompare during verify operation"},
        {0x20, 0x00, "invalid command operation code"},
        {0x21, 0x00, "logical block address out of range"},
        {0x24, 0x00, "invalid field in command block"},
        {0x25, 0x00, "logical unit not supported"},
        {0x26, 0x00, "invalid field in parameter list"},
        {0x27, -1, "write protected"},
        {0x28, 0x00, "not ready to ready change, medium may have changed"},
        {0x29, -1, "power on, reset or bus device reset occurred"},
        {0x2C, 0x00, "command sequence error"},
        {0x3A, -1, "medium not present"},
        {0x44, 0x00, "internal target failure"},
    };
    for (const Entry& e : kEntries) {
        if (e.asc == asc && (e.ascq < 0 || e.ascq == ascq)) return e.words;
    }
    return nullptr;
}

}  // namespace

std::string SenseText(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    char numbers[16];
    std::snprintf(numbers, sizeof numbers, "(%02X/%02X/%02X)", senseKey & 0x0F, asc, ascq);
    std::string text = SenseKeyWords(senseKey);
    if (const char* words = AdditionalSenseWords(asc, ascq)) text += std::string(": ") + words;
    return text + " " + numbers;
}

}  // namespace brev
