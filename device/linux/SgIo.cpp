#include "device/linux/SgIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/ScsiSense.h"

namespace brev::sgio {

namespace {

// Host byte values (the kernel keeps them out of the user headers).
constexpr unsigned short kDidOk = 0x00;
constexpr unsigned short kDidNoConnect = 0x01;
constexpr unsigned short kDidTimeOut = 0x03;
constexpr unsigned short kDidBadTarget = 0x04;
// Driver byte values (low nibble of driver_status).
constexpr unsigned short kDriverTimeout = 0x06;
constexpr unsigned short kDriverSense = 0x08;

TransferStatus StatusForErrno(int err) {
    switch (err) {
        case ENODEV:
        case ENXIO:
            return TransferStatus::NoDevice;
        case ETIMEDOUT:
            return TransferStatus::Timeout;
        default:
            return TransferStatus::OsError;
    }
}

}  // namespace

void FillRequest(sg_io_hdr_t& hdr, unsigned char* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                 uint32_t timeoutMs, unsigned char* sense) {
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    if (length == 0 || dir == DataDirection::None) {
        hdr.dxfer_direction = SG_DXFER_NONE;
    } else {
        hdr.dxfer_direction = dir == DataDirection::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        hdr.dxfer_len = length;
        hdr.dxferp = data;
    }
    hdr.cmd_len = static_cast<unsigned char>(kCdbSize);
    hdr.cmdp = cdb;
    hdr.mx_sb_len = kSenseSize;
    hdr.sbp = sense;
    hdr.timeout = timeoutMs != 0 ? timeoutMs : kPassThroughTimeoutMs;
}

namespace {

// Status, SCSI status, sense and OS error; everything but the residual.
TransferResult Delivery(int rc, int err, const sg_io_hdr_t& hdr) {
    TransferResult r;
    if (rc < 0) {
        r.status = StatusForErrno(err);
        r.osError = err;
        return r;
    }
    r.scsiStatus = hdr.status != 0 ? hdr.status : static_cast<uint8_t>(hdr.masked_status << 1);
    if (hdr.sb_len_wr > 0 && hdr.sbp != nullptr) {
        DecodeSense(hdr.sbp, std::min<std::size_t>(hdr.sb_len_wr, hdr.mx_sb_len), r);
    }
    // The host byte says whether the command reached the device at all.
    switch (hdr.host_status) {
        case kDidOk:
            break;
        case kDidNoConnect:
        case kDidBadTarget:
            r.status = TransferStatus::NoDevice;
            return r;
        case kDidTimeOut:
            r.status = TransferStatus::Timeout;
            return r;
        default:
            r.status = TransferStatus::HostError;
            return r;
    }
    const unsigned short driver = hdr.driver_status & 0x0f;
    if (driver == kDriverTimeout) {
        r.status = TransferStatus::Timeout;
        return r;
    }
    // DRIVER_SENSE alone only says sense data came with a CHECK CONDITION.
    if (driver != 0 && driver != kDriverSense) {
        r.status = TransferStatus::HostError;
        return r;
    }
    if (r.scsiStatus != 0 || driver == kDriverSense) {
        r.status = TransferStatus::CheckCondition;
        if (r.scsiStatus == 0) r.scsiStatus = 0x02;
        return r;
    }
    r.status = TransferStatus::Ok;
    return r;
}

}  // namespace

TransferResult Outcome(int rc, int err, const sg_io_hdr_t& hdr) {
    TransferResult r = Delivery(rc, err, hdr);
    if (!r.delivered()) {
        r.residual = hdr.dxfer_len;
    } else if (hdr.resid > 0) {
        // The kernel counts what the adapter did not move; never report more than was asked.
        r.residual = std::min<uint32_t>(static_cast<uint32_t>(hdr.resid), hdr.dxfer_len);
    }
    return r;
}

}  // namespace brev::sgio
