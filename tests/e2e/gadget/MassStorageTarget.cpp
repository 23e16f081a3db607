#include "tests/e2e/gadget/MassStorageTarget.h"

#include <algorithm>
#include <cstring>

#include "base/Bytes.h"

namespace brev::gadget {

namespace {

// SCSI operation codes the host side of a mass-storage attach uses.
enum Op : uint8_t {
    TestUnitReady = 0x00,
    RequestSense = 0x03,
    Inquiry = 0x12,
    ModeSelect6 = 0x15,
    ModeSense6 = 0x1A,
    StartStopUnit = 0x1B,
    PreventAllowMediumRemoval = 0x1E,
    ReadFormatCapacities = 0x23,
    ReadCapacity10 = 0x25,
    Read10 = 0x28,
    Write10 = 0x2A,
    Verify10 = 0x2F,
    SynchronizeCache10 = 0x35,
    ModeSense10 = 0x5A,
    ServiceActionIn16 = 0x9E,
};
constexpr uint8_t kReadCapacity16Action = 0x10;

// Sense keys and additional sense codes.
constexpr uint8_t kIllegalRequest = 0x05, kDataProtect = 0x07, kHardwareError = 0x04;
constexpr uint8_t kInvalidOpcode = 0x20, kLbaOutOfRange = 0x21, kInvalidFieldInCdb = 0x24,
                  kWriteProtected = 0x27, kInternalTargetFailure = 0x44;

// Space-padded or cut to exactly `width` bytes, as INQUIRY carries its strings.
void PutPadded(uint8_t* p, const std::string& text, std::size_t width) {
    std::memset(p, ' ', width);
    std::memcpy(p, text.data(), std::min(text.size(), width));
}

bool IsVendorCommand(uint8_t opcode) { return (opcode & 0xC0) == 0xC0; }

}  // namespace

std::optional<Cbw> ParseCbw(const uint8_t* data, std::size_t length) {
    if (data == nullptr || length != kCbwSize || GetLe32(data) != kCbwSignature) return std::nullopt;
    Cbw cbw;
    cbw.tag = GetLe32(data + 4);
    cbw.dataLength = GetLe32(data + 8);
    cbw.dataIn = (data[12] & 0x80) != 0;
    cbw.lun = data[13] & 0x0F;
    cbw.cdbLength = data[14] & 0x1F;
    if (cbw.lun != 0 || cbw.cdbLength < 1 || cbw.cdbLength > 16) return std::nullopt;
    std::memcpy(cbw.cdb.data(), data + 15, cbw.cdbLength);
    return cbw;
}

std::array<uint8_t, kCswSize> BuildCsw(uint32_t tag, uint32_t residue, CswStatus status) {
    std::array<uint8_t, kCswSize> csw{};
    PutLe32(csw.data(), kCswSignature);
    PutLe32(csw.data() + 4, tag);
    PutLe32(csw.data() + 8, residue);
    csw[12] = static_cast<uint8_t>(status);
    return csw;
}

MassStorageTarget::MassStorageTarget(sim::SimDevice& device, TargetOptions options)
    : device_(device), options_(std::move(options)) {}

CommandOutcome MassStorageTarget::Fail(uint8_t key, uint8_t asc, uint8_t ascq) {
    sense_ = {key, asc, ascq};
    CommandOutcome out;
    out.status = CswStatus::Failed;
    return out;
}

CommandOutcome MassStorageTarget::Reply(const Cbw& cbw, uint8_t* data, const uint8_t* answer,
                                        uint32_t answerLength, uint32_t allocationLength) {
    CommandOutcome out;
    if (cbw.direction() == DataDirection::Out) {  // the host wants to send where we answer
        out.status = CswStatus::PhaseError;
        return out;
    }
    out.dataBytes = std::min({answerLength, allocationLength, cbw.dataLength});
    if (out.dataBytes > 0) std::memcpy(data, answer, out.dataBytes);
    sense_ = {};
    return out;
}

CommandOutcome MassStorageTarget::Vendor(const Cbw& cbw, uint8_t* data) {
    const TransferResult r = device_.HandleCommand(cbw.cdb.data(), cbw.direction(),
                                                   cbw.dataLength > 0 ? data : nullptr, cbw.dataLength);
    CommandOutcome out;
    switch (r.status) {
        case TransferStatus::Ok:
            sense_ = {};
            out.dataBytes = cbw.dataLength;
            if (cbw.direction() == DataDirection::In && options_.shortInSub == cbw.cdb[1] &&
                options_.shortInBytes < cbw.dataLength) {
                out.dataBytes = options_.shortInBytes;
                out.endsShort = true;
            }
            return out;
        case TransferStatus::CheckCondition:
            return Fail(r.senseKey, r.asc, r.ascq);
        case TransferStatus::Timeout:
            out.reply = CommandOutcome::Reply::None;
            return out;
        case TransferStatus::NoDevice:
            out.reply = CommandOutcome::Reply::OffBus;
            return out;
        default:
            return Fail(kHardwareError, kInternalTargetFailure);
    }
}

CommandOutcome MassStorageTarget::Execute(const Cbw& cbw, uint8_t* data) {
    const uint8_t* cdb = cbw.cdb.data();
    if (IsVendorCommand(cdb[0])) return Vendor(cbw, data);

    const uint32_t blocks = options_.blockCount;
    switch (cdb[0]) {
        case TestUnitReady:
        case StartStopUnit:
        case PreventAllowMediumRemoval:
        case SynchronizeCache10:
        case Verify10:
        case ModeSelect6: {
            CommandOutcome out;
            out.dataBytes = cbw.direction() == DataDirection::Out ? cbw.dataLength : 0;
            sense_ = {};
            return out;
        }
        case RequestSense: {
            std::array<uint8_t, 18> answer{};
            answer[0] = 0x70;  // current error, fixed format
            answer[2] = sense_.key;
            answer[7] = 10;
            answer[12] = sense_.asc;
            answer[13] = sense_.ascq;
            return Reply(cbw, data, answer.data(), answer.size(), cdb[4]);
        }
        case Inquiry: {
            if ((cdb[1] & 0x01) != 0) return Fail(kIllegalRequest, kInvalidFieldInCdb);  // no VPD pages
            std::array<uint8_t, 36> answer{};
            answer[0] = 0x00;  // direct-access block device
            answer[1] = 0x80;  // removable medium
            answer[2] = 0x02;
            answer[3] = 0x02;  // response data format
            answer[4] = uint8_t(answer.size() - 5);
            PutPadded(&answer[8], device_.config().vendor, 8);
            PutPadded(&answer[16], device_.config().product, 16);
            PutPadded(&answer[32], options_.revision, 4);
            return Reply(cbw, data, answer.data(), answer.size(), GetBe16(cdb + 3));
        }
        case ModeSense6: {
            // Header only: no block descriptors, no pages, write-protected so the host
            // never caches writes to the blank medium.
            const std::array<uint8_t, 4> answer{3, 0, 0x80, 0};
            return Reply(cbw, data, answer.data(), answer.size(), cdb[4]);
        }
        case ModeSense10: {
            const std::array<uint8_t, 8> answer{0, 6, 0, 0x80, 0, 0, 0, 0};
            return Reply(cbw, data, answer.data(), answer.size(), GetBe16(cdb + 7));
        }
        case ReadFormatCapacities: {
            std::array<uint8_t, 12> answer{};
            answer[3] = 8;  // one descriptor
            PutBe32(&answer[4], blocks);
            answer[8] = 0x02;                            // formatted medium
            PutBe16(&answer[10], uint16_t(kBlockSize));  // the low two bytes of a 24-bit length
            return Reply(cbw, data, answer.data(), answer.size(), GetBe16(cdb + 7));
        }
        case ReadCapacity10: {
            std::array<uint8_t, 8> answer{};
            PutBe32(&answer[0], blocks - 1);
            PutBe32(&answer[4], kBlockSize);
            return Reply(cbw, data, answer.data(), answer.size(), answer.size());
        }
        case ServiceActionIn16: {
            if ((cdb[1] & 0x1F) != kReadCapacity16Action) return Fail(kIllegalRequest, kInvalidFieldInCdb);
            std::array<uint8_t, 32> answer{};
            PutBe32(&answer[4], blocks - 1);
            PutBe32(&answer[8], kBlockSize);
            return Reply(cbw, data, answer.data(), answer.size(), GetBe32(cdb + 10));
        }
        case Read10: {
            const uint64_t lba = GetBe32(cdb + 2);
            const uint64_t count = GetBe16(cdb + 7);
            if (lba + count > blocks) return Fail(kIllegalRequest, kLbaOutOfRange);
            const uint64_t bytes = count * kBlockSize;
            CommandOutcome out;
            if (cbw.direction() == DataDirection::Out || bytes > cbw.dataLength) {
                out.status = CswStatus::PhaseError;
                return out;
            }
            if (bytes > 0) std::memset(data, 0, bytes);  // a blank medium; no buffer comes with 0 blocks
            out.dataBytes = uint32_t(bytes);
            sense_ = {};
            return out;
        }
        case Write10:
            return Fail(kDataProtect, kWriteProtected);
        default:
            return Fail(kIllegalRequest, kInvalidOpcode);
    }
}

}  // namespace brev::gadget
