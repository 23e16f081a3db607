// The request block of IOCTL_SCSI_PASS_THROUGH_DIRECT: the platform's SCSI_PASS_THROUGH_DIRECT,
// a 4-byte filler and the sense area, sent as both input and output buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/PassThrough.h"
#include "device/windows/WindowsSystem.h"

namespace brev {

struct ScsiPassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
};

// The layout the driver reads; a header that disagrees must not build.
#ifdef _WIN64
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(offsetof(ScsiPassThroughRequest, sense) == 60);
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
static_assert(offsetof(ScsiPassThroughRequest, sense) == 48);
static_assert(sizeof(ScsiPassThroughRequest) == 80);
#endif
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb) == kCdbSize);

constexpr UCHAR kScsiTargetId = 1;
constexpr UCHAR kSenseInfoLength = 26;

// The block for one command: every byte zero except the fields a transfer sets. With no
// data phase (direction None or length 0) the length is 0 and the buffer null. A time-out of
// 0 is sent as kPassThroughTimeoutMs.
ScsiPassThroughRequest BuildPassThroughRequest(const uint8_t* cdb, DataDirection dir, void* data,
                                               uint32_t length, uint32_t timeoutMs);

}  // namespace brev
