// The device side of USB mass storage, Bulk-Only Transport: command and status wrappers, and
// a SCSI target that answers what a host sends on attach and hands vendor commands to the
// simulated chip. No I/O here; the FunctionFS service moves the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "device/PassThrough.h"
#include "device/sim/SimDevice.h"

namespace brev::gadget {

constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr std::size_t kCbwSize = 31;
constexpr std::size_t kCswSize = 13;
constexpr uint32_t kBlockSize = 512;

struct Cbw {
    uint32_t tag = 0;
    uint32_t dataLength = 0;
    bool dataIn = false;
    uint8_t lun = 0;
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};  // bytes past cdbLength are zero

    DataDirection direction() const {
        if (dataLength == 0) return DataDirection::None;
        return dataIn ? DataDirection::In : DataDirection::Out;
    }
};

// A command wrapper the device accepts: exactly 31 bytes, the signature, LUN 0 (the only one),
// a command block of 1 to 16 bytes. Anything else is nothing.
std::optional<Cbw> ParseCbw(const uint8_t* data, std::size_t length);

enum class CswStatus : uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };
std::array<uint8_t, kCswSize> BuildCsw(uint32_t tag, uint32_t residue, CswStatus status);

struct Sense {
    uint8_t key = 0, asc = 0, ascq = 0;
};

// What the transport does after a command.
struct CommandOutcome {
    enum class Reply { Status, None, OffBus };
    Reply reply = Reply::Status;  // None: the device does not answer (the host times out)
    CswStatus status = CswStatus::Passed;
    // Data-in: bytes answered into the buffer. Data-out: bytes the command used. The status
    // wrapper's residue is the host's length minus this.
    uint32_t dataBytes = 0;
    // Data-in stops after dataBytes instead of padding to the host's length: the host sees a
    // short transfer.
    bool endsShort = false;
};

struct TargetOptions {
    uint32_t blockCount = 2048;  // the blank medium the host's partition scan reads
    std::string revision = "1.00";
    // Data-in of this vendor sub-command answers only shortInBytes bytes, however many were asked.
    std::optional<uint8_t> shortInSub;
    uint32_t shortInBytes = 0;
};

// One logical unit over a simulated chip. Used by one thread (the bulk endpoint's).
class MassStorageTarget {
public:
    MassStorageTarget(sim::SimDevice& device, TargetOptions options = {});

    // Runs one command. `data` has room for cbw.dataLength bytes: for data-out it holds what the
    // host sent; for data-in the target writes its answer there (outcome.dataBytes long).
    CommandOutcome Execute(const Cbw& cbw, uint8_t* data);

    // The sense data REQUEST SENSE would return now.
    const Sense& sense() const { return sense_; }

private:
    CommandOutcome Vendor(const Cbw& cbw, uint8_t* data);
    CommandOutcome Reply(const Cbw& cbw, uint8_t* data, const uint8_t* answer, uint32_t answerLength,
                         uint32_t allocationLength);
    CommandOutcome Fail(uint8_t key, uint8_t asc, uint8_t ascq = 0);

    sim::SimDevice& device_;
    TargetOptions options_;
    Sense sense_;
};

}  // namespace brev::gadget
