// Turning one SG_IO request and its outcome into the portable transfer result.
#pragma once

#include <scsi/sg.h>

#include <cstddef>
#include <cstdint>

#include "device/PassThrough.h"

namespace brev::sgio {

constexpr unsigned char kSenseSize = 32;

// Fills `hdr` for one command; `cdb` and `sense` must outlive the request. A time-out of 0 is
// sent as kPassThroughTimeoutMs.
void FillRequest(sg_io_hdr_t& hdr, unsigned char* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                 uint32_t timeoutMs, unsigned char* sense);

// The result of a request whose ioctl returned `rc` (`err` is errno when rc < 0); the residual
// comes from `resid`.
TransferResult Outcome(int rc, int err, const sg_io_hdr_t& hdr);

}  // namespace brev::sgio
