#include "device/PassThrough.h"

namespace brev {

const char* TransferStatusText(TransferStatus s) {
    switch (s) {
        case TransferStatus::Ok:
            return "ok";
        case TransferStatus::NotOpen:
            return "device not open";
        case TransferStatus::NoDevice:
            return "device removed";
        case TransferStatus::Timeout:
            return "timed out";
        case TransferStatus::OsError:
            return "system error";
        case TransferStatus::CheckCondition:
            return "command rejected by the device";
        case TransferStatus::HostError:
            return "host adapter error";
        case TransferStatus::ShortTransfer:
            return "short transfer";
    }
    return "unknown";
}

TransferResult CheckedResult(TransferResult r) {
    // A backend that delivered the command but saw a non-GOOD status must not pass as success.
    if (r.status == TransferStatus::Ok && r.scsiStatus != 0) r.status = TransferStatus::CheckCondition;
    // The kernel completes a short data-in with GOOD and zero-fills the tail: not the device's data.
    if (r.status == TransferStatus::Ok && r.residual != 0) r.status = TransferStatus::ShortTransfer;
    return r;
}

}  // namespace brev
