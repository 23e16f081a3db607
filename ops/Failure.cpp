#include "ops/Failure.h"

#include <cstdio>
#include <system_error>

#include "base/Bytes.h"
#include "device/CommandSet.h"
#include "device/ScsiSense.h"

namespace brev {
namespace {

enum class Shape { Plain, At, AtLength };

struct Step {
    const char* name;
    Shape shape;
    const char* reason;  // null: the caller's reason
};

Step StepOf(uint8_t sub) {
    switch (sub) {
        case cmd::ReadFlashId:
            return {"ReadFlashId", Shape::Plain, reason::kFlashIdFailed};
        case cmd::WriteByte:
            return {"WriteByte", Shape::AtLength, reason::kWriteFailed};
        case cmd::WritePage:
            return {"WritePage", Shape::AtLength, reason::kWriteFailed};
        case cmd::Erase4K:
            return {"Erase4K", Shape::At, reason::kEraseFailed};
        case cmd::Erase32K:
            return {"Erase32K", Shape::At, reason::kEraseFailed};
        case cmd::Erase64K:
            return {"Erase64K", Shape::At, reason::kEraseFailed};
        case cmd::EraseChip:
            return {"EraseChip", Shape::Plain, reason::kEraseFailed};
        case cmd::Read:
            return {"Read", Shape::AtLength, reason::kReadFailed};
        case cmd::FastRead:
            return {"FastRead", Shape::AtLength, reason::kReadFailed};
        case cmd::WriteRam:
            return {"WriteRam", Shape::AtLength, nullptr};
        case cmd::Execute:
            return {"Execute", Shape::At, nullptr};
        case cmd::LoaderReadFlashId:
            return {"LoaderReadFlashId", Shape::Plain, reason::kFlashIdFailed};
        case cmd::LoaderWrite:
            return {"LoaderWrite", Shape::AtLength, reason::kWriteFailed};
        case cmd::LoaderErase4K:
            return {"LoaderErase4K", Shape::At, reason::kEraseFailed};
        case cmd::PcStartWrite:
            return {"PcStartWrite", Shape::Plain, reason::kWriteFailed};
        case cmd::Init:
            return {"Init", Shape::Plain, reason::kInitFailed};
        case cmd::GetCrc16:
            return {"GetCrc16", Shape::AtLength, reason::kReadFailed};
        case cmd::SystemReset:
            return {"SystemReset", Shape::Plain, nullptr};
        case cmd::ReadChipVer:
            return {"ReadChipVer", Shape::Plain, nullptr};
        case cmd::SetKey:
            return {"SetKey", Shape::Plain, nullptr};
        case cmd::LoaderGetCrc16:
            return {"LoaderGetCrc16", Shape::AtLength, reason::kReadFailed};
        case cmd::PcStartErase:
            return {"PcStartErase", Shape::Plain, reason::kEraseFailed};
        default:
            return {nullptr, Shape::Plain, nullptr};
    }
}

bool IsChecksumCommand(uint8_t sub) { return sub == cmd::GetCrc16 || sub == cmd::LoaderGetCrc16; }

std::string StepName(const std::array<uint8_t, kCdbSize>& cdb) {
    const Step step = StepOf(cdb[1]);
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "command %02X", cdb[1]);
    std::string text = step.name != nullptr ? step.name : unknown;
    const uint32_t length = GetLe32(cdb.data() + 2);
    const uint32_t addr = GetLe32(cdb.data() + 6);
    if (step.shape != Shape::Plain) text += " at " + HexText(addr);
    if (step.shape == Shape::AtLength) text += " (" + std::to_string(length) + " bytes)";
    return text;
}

std::string ScsiStatusWords(uint8_t status) {
    switch (status) {
        case 0x02:
            return "check condition";
        case 0x08:
            return "busy";
        case 0x18:
            return "reservation conflict";
        case 0x28:
            return "task set full";
        case 0x40:
            return "task aborted";
        default: {
            char buf[24];
            std::snprintf(buf, sizeof buf, "status 0x%02X", status);
            return buf;
        }
    }
}

bool OsErrorIs(int code, std::errc what) {
    return code != 0 && std::error_code(code, std::system_category()).default_error_condition() ==
                            std::make_error_condition(what);
}

// The reason a failed transfer gives whatever step it belonged to; null when the step decides.
const char* TransferReason(const TransferResult& r) {
    switch (r.status) {
        case TransferStatus::NoDevice:
            return reason::kDeviceRemoved;
        case TransferStatus::Timeout:
            return reason::kTimeout;
        case TransferStatus::ShortTransfer:
            return reason::kShortTransfer;
        case TransferStatus::NotOpen:
            return reason::kOpenFailed;
        case TransferStatus::CheckCondition:
            return r.scsiStatus == 0x08 ? reason::kBusy : nullptr;
        case TransferStatus::OsError:
            if (OsErrorIs(r.osError, std::errc::interrupted)) return reason::kInterrupted;
            if (OsErrorIs(r.osError, std::errc::device_or_resource_busy)) return reason::kBusy;
            if (OsErrorIs(r.osError, std::errc::permission_denied) ||
                OsErrorIs(r.osError, std::errc::operation_not_permitted))
                return reason::kPermission;
            if (OsErrorIs(r.osError, std::errc::no_such_device)) return reason::kDeviceRemoved;
            return nullptr;
        default:
            return nullptr;
    }
}

}  // namespace

void SetFailure(JobOutcome& outcome, const char* reason, const std::string& detail) {
    if (!outcome.reason.empty()) return;
    outcome.reason = reason;
    outcome.detail = detail;
}

void SetOpenFailure(JobOutcome& outcome, const MassDevice& device) {
    std::string detail = "Open " + device.name() + ": ";
    const char* why = reason::kOpenFailed;
    switch (device.lastOpenError()) {
        case OpenError::PermissionDenied:
            why = reason::kPermission;
            detail += "permission denied";
            break;
        case OpenError::Busy:
            why = reason::kBusy;
            detail += "in use by another program";
            break;
        case OpenError::NotFound:
            detail += "not found";
            break;
        case OpenError::Other:
            detail += "the system would not open it";
            break;
        case OpenError::None:
            detail += "not a removable volume of a device of ours";
            break;
    }
    const std::string hint = device.openErrorHint();
    if (!hint.empty()) detail += " (" + hint + ")";
    SetFailure(outcome, why, detail);
}

void SetCommandFailure(JobOutcome& outcome, const MassDevice& device, const char* stepReason, int64_t block) {
    if (!outcome.reason.empty()) return;
    const auto& cdb = device.lastCommand();
    const TransferResult& result = device.lastTransfer();
    if (result.ok() && IsChecksumCommand(cdb[1])) {
        const uint32_t addr = GetLe32(cdb.data() + 6);
        std::string detail =
            block >= 0 ? "block " + std::to_string(block) + " at " + HexText(addr) : "at " + HexText(addr);
        detail += ": the device's checksum differs from the data's";
        SetFailure(outcome, reason::kVerifyMismatch, detail);
        return;
    }
    if (result.ok()) {
        // Refused before anything was sent (e.g. a range past the device's addresses).
        SetFailure(outcome, stepReason, StepName(cdb) + ": not sent");
        return;
    }
    const char* why = TransferReason(result);
    if (why == nullptr) why = StepOf(cdb[1]).reason;
    if (why == nullptr) why = stepReason;
    std::string detail = DescribeCommand(cdb, result);
    if (!device.lastTransferNote().empty()) detail += " (" + device.lastTransferNote() + ")";
    SetFailure(outcome, why, detail);
}

void SetDeviceFailure(JobOutcome& outcome, const MassDevice& device, const char* stepReason, int64_t block) {
    if (!device.isOpen()) {
        SetOpenFailure(outcome, device);
    } else {
        SetCommandFailure(outcome, device, stepReason, block);
    }
}

std::string DescribeCommand(const std::array<uint8_t, kCdbSize>& cdb, const TransferResult& result) {
    return StepName(cdb) + ": " + DescribeTransfer(result);
}

std::string DescribeTransfer(const TransferResult& r) {
    switch (r.status) {
        case TransferStatus::CheckCondition: {
            std::string text = ScsiStatusWords(r.scsiStatus);
            if (r.senseKey != 0 || r.asc != 0 || r.ascq != 0)
                text += ", " + SenseText(r.senseKey, r.asc, r.ascq);
            return text;
        }
        case TransferStatus::OsError:
            return r.osError != 0 ? "system error: " + SystemErrorText(r.osError) : "system error";
        case TransferStatus::ShortTransfer:
            return "short transfer, " + std::to_string(r.residual) + " bytes not moved";
        default:
            return TransferStatusText(r.status);
    }
}

std::string HexText(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}

std::string SystemErrorText(int code) { return std::system_category().message(code); }

std::string ErrnoText(int code) { return std::generic_category().message(code); }

}  // namespace brev
