// The pass-through seam between the portable device code and an OS (or the simulator).
//
// One request at a time per handle: a 16-byte command block, an optional data phase in
// one direction, a time-out. The result keeps apart "the request was not delivered"
// (OS error, time-out, device gone) and "the device answered with a non-GOOD status".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brev {

constexpr uint32_t kPassThroughTimeoutMs = 10000;
constexpr std::size_t kCdbSize = 16;

enum class DriveType { Unknown, Removable, Fixed, CdRom, Remote, NoRootDir };
enum class BusType { Unknown, Usb, Other };
enum class DataDirection { None, In, Out };

// What the storage stack reports for a volume. Strings are not trimmed.
struct VolumeIdentity {
    BusType bus = BusType::Unknown;
    std::string vendor;
    std::string product;
};

// A volume the backend can see: `name` is the device's identity everywhere
// ("E" on Windows, "sdb" on Linux, "sim0" in the simulator); `path` is what opens it.
struct VolumeRef {
    std::string name;
    std::string path;
};

enum class TransferStatus {
    Ok,             // delivered, SCSI status GOOD
    NotOpen,        // no handle: nothing was sent
    NoDevice,       // the device went away
    Timeout,        // no answer within the time-out
    OsError,        // the OS refused or failed the request
    CheckCondition, // delivered, device answered CHECK CONDITION (or another non-GOOD status)
    HostError,      // host adapter / driver reported an error
};

struct TransferResult {
    TransferStatus status = TransferStatus::Ok;
    uint8_t scsiStatus = 0;      // as reported, when delivered
    int osError = 0;             // errno / GetLastError(), when not delivered
    uint8_t senseKey = 0;        // from fixed-format sense data, when any
    uint8_t asc = 0, ascq = 0;

    bool ok() const { return status == TransferStatus::Ok; }
    bool delivered() const {
        return status == TransferStatus::Ok || status == TransferStatus::CheckCondition;
    }
};

const char* TransferStatusText(TransferStatus s);
// `r` with a delivered command whose SCSI status is not GOOD counted as CheckCondition.
TransferResult CheckedResult(TransferResult r);

enum class OpenError { None, NotFound, PermissionDenied, Busy, Other };

// One open volume. Used by one thread at a time; closed by destruction.
class IPassThroughHandle {
public:
    virtual ~IPassThroughHandle() = default;
    // Identification request (bus type, vendor and product strings). False when it fails.
    virtual bool Identify(VolumeIdentity& out) = 0;
    // One command. `data` may be null when `length` is 0 (direction then is None).
    virtual TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                                   uint32_t timeoutMs) = 0;
};

// A platform backend. Thread-safe: jobs on different threads open their own handles.
class IPassThroughBackend {
public:
    virtual ~IPassThroughBackend() = default;
    // The volumes to probe at a scan, in scan order (letters B..Z, sd*/sr* by name, sim names).
    virtual std::vector<VolumeRef> ListVolumes() = 0;
    // Drive-type test done before a volume is opened.
    virtual DriveType QueryDriveType(const std::string& name, const std::string& path) = 0;
    // Opens a volume for read and write; null with `err` set on failure.
    virtual std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                            OpenError* err) = 0;
    // Operator hint for an open failure (e.g. how to fix permissions); empty when none.
    virtual std::string OpenErrorHint(const std::string& name, const std::string& path, OpenError err) {
        (void)name;
        (void)path;
        (void)err;
        return {};
    }
};

// Arrival and removal of volumes, from udev, WM_DEVICECHANGE or the simulated bus.
struct DeviceEvent {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    VolumeRef volume;
};

}  // namespace brev
