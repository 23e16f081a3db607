// Reading the sense data a device returns with CHECK CONDITION, shared by every OS backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/PassThrough.h"

namespace brev {

// Sets the sense key, ASC and ASCQ of `out` from fixed (response code 0x70/0x71) or descriptor
// (0x72/0x73) format sense data. Only the first `length` bytes are read: pass the count the
// device actually wrote, not the buffer size. A field the data does not reach, or data of any
// other format, leaves that field of `out` as it was.
void DecodeSense(const uint8_t* sense, std::size_t length, TransferResult& out);

// The sense in words, for logs: "illegal request: invalid command operation code (05/20/00)".
// An additional sense code without words of its own shows as its numbers only.
std::string SenseText(uint8_t senseKey, uint8_t asc, uint8_t ascq);

}  // namespace brev
