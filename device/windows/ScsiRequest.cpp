#include "device/windows/ScsiRequest.h"

#include <algorithm>
#include <cstring>

namespace brev {

ScsiPassThroughRequest BuildPassThroughRequest(const uint8_t* cdb, DataDirection dir, void* data,
                                               uint32_t length, uint32_t timeoutMs) {
    ScsiPassThroughRequest req;
    std::memset(&req, 0, sizeof req);  // padding included: the whole block goes to the driver
    const bool hasData = dir != DataDirection::None && length > 0;
    req.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    req.sptd.TargetId = kScsiTargetId;
    req.sptd.CdbLength = kCdbSize;
    req.sptd.SenseInfoLength = kSenseInfoLength;
    // Commands without data go out as data-out with length 0.
    req.sptd.DataIn = dir == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    req.sptd.DataTransferLength = hasData ? length : 0;
    // The driver counts whole seconds; never round a short time-out down to "no time-out".
    if (timeoutMs == 0) timeoutMs = kPassThroughTimeoutMs;
    req.sptd.TimeOutValue = std::max<uint32_t>(1, timeoutMs / 1000 + (timeoutMs % 1000 != 0 ? 1 : 0));
    req.sptd.DataBuffer = hasData ? data : nullptr;
    req.sptd.SenseInfoOffset = offsetof(ScsiPassThroughRequest, sense);
    std::memcpy(req.sptd.Cdb, cdb, kCdbSize);
    return req;
}

}  // namespace brev
