// The pass-through seam between the portable device code and an OS (or the simulator).
//
// One request at a time per handle: a 16-byte command block, an optional data phase in
// one direction, a time-out. The result keeps apart "the request was not delivered"
// (OS error, time-out, device gone) and "the device answered with a non-GOOD status".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brev {

constexpr uint32_t kPassThroughTimeoutMs = 10000;
constexpr std::size_t kCdbSize = 16;

enum class DriveType { Unknown, Removable, Fixed, CdRom, Remote, NoRootDir };
enum class BusType { Unknown, Usb, Other };
enum class DataDirection { None, In, Out };

// Where a device sits and what the system calls it now; empty where unknown.
struct DeviceLocation {
    std::string portPath;   // USB port path, stable across plugs ("1-2.3"; Windows: the location path)
    std::string serial;     // USB serial number
    std::string sgNode;     // "/dev/sg2"
    std::string blockNode;  // "/dev/sdb"; Windows: the drive letter ("E:")
};

// What the storage stack reports for a volume. Strings are not trimmed.
struct VolumeIdentity {
    BusType bus = BusType::Unknown;
    std::string vendor;
    std::string product;
    DeviceLocation location;
};

// A volume the backend can see: `name` is the device's identity everywhere
// ("E" on Windows, "sdb" on Linux, "sim0" in the simulator); `path` is what opens it.
struct VolumeRef {
    std::string name;
    std::string path;
};

enum class TransferStatus {
    Ok,              // delivered, SCSI status GOOD
    NotOpen,         // no handle (a closed MassDevice): nothing was sent; no backend handle returns it
    NoDevice,        // the device went away
    Timeout,         // no answer within the time-out
    OsError,         // the OS refused or failed the request
    CheckCondition,  // delivered, device answered CHECK CONDITION (or another non-GOOD status)
    HostError,       // host adapter / driver reported an error
    // Delivered with status GOOD, but fewer data bytes moved than asked (`residual` says how
    // many did not). Backends report such a transfer as Ok; CheckedResult makes it this.
    ShortTransfer,
};

// What one Execute did. `status` says whether the command was delivered; the other fields are
// zero unless said otherwise.
struct TransferResult {
    TransferStatus status = TransferStatus::Ok;
    uint8_t scsiStatus = 0;  // the device's status byte, when delivered
    // errno / GetLastError() of the OS call that failed or refused the request; 0 when delivered,
    // and when the failure came from elsewhere (the host adapter, the simulator's bus).
    int osError = 0;
    // From the sense data that came with a non-GOOD status (fixed or descriptor format), when any.
    uint8_t senseKey = 0;
    uint8_t asc = 0, ascq = 0;
    // Bytes of the data phase asked for but not moved, in either direction. A delivered result
    // reports what actually moved as the OS (or the simulated device) counted it: Linux
    // dxfer_len - resid, Windows the DataTransferLength the driver hands back. 0 when the whole
    // length moved, more after a short transfer, data-in or data-out, which a backend still
    // reports as Ok; CheckedResult (and so every MassDevice transfer) turns it into ShortTransfer:
    // bytes the device never sent must not pass as its, and a write it did not take in full is no
    // write. A refused or undelivered request reports its whole length: nothing it may have moved
    // can be relied on.
    uint32_t residual = 0;

    bool ok() const { return status == TransferStatus::Ok; }
    bool delivered() const {
        return status == TransferStatus::Ok || status == TransferStatus::CheckCondition ||
               status == TransferStatus::ShortTransfer;
    }
};

const char* TransferStatusText(TransferStatus s);
// The requests every handle refuses before anything is sent (see IPassThroughHandle::Execute).
inline bool IsRefusedRequest(const uint8_t* cdb, DataDirection dir, const uint8_t* data, uint32_t length) {
    return cdb == nullptr || (length > 0 && (data == nullptr || dir == DataDirection::None));
}
// `r` as the device layer judges it: a delivered command whose SCSI status is not GOOD counts as
// CheckCondition, and one that moved fewer bytes than asked as ShortTransfer.
TransferResult CheckedResult(TransferResult r);

enum class OpenError { None, NotFound, PermissionDenied, Busy, Other };

// One open volume, closed by destruction: the OS handle is closed exactly once and nothing
// reaches the device through it afterwards. A handle is used by one thread at a time (it may move
// between threads); different handles, also of the same volume, may be used at the same time.
// It does not depend on the backend object that opened it and may outlive it.
//
// Once the device is gone (unplugged, or dropped off the bus) the handle stays dead: every
// Execute fails with NoDevice (or OsError where the OS reports the removal with a code it also
// uses for other failures) and Identify returns false, also after a device comes back under the
// same name. Destroy it and open the volume again.
class IPassThroughHandle {
public:
    virtual ~IPassThroughHandle() = default;
    // Identification (bus type, vendor and product strings), not through Execute. On true all
    // three fields of `out` are set, the strings as the OS reports them: UTF-8, padding kept
    // (Windows reads "(NULL)" for a string the device leaves out). False, with `out` untouched,
    // when the identity cannot be read, the device being gone included.
    virtual bool Identify(VolumeIdentity& out) = 0;
    // One command: the 16 bytes at `cdb`, then a data phase of `length` bytes in direction `dir`.
    //  - `length` 0 means no data phase, whatever `dir` says; `data` may then be null.
    //  - A request that cannot be sent as asked is refused before anything reaches the OS or the
    //    device: a null `cdb`, or a non-zero `length` with direction None or with null `data`.
    //    It fails with OsError, `osError` the platform's invalid-argument code (EINVAL;
    //    ERROR_INVALID_PARAMETER on Windows) and `residual` = `length`.
    //  - The seam sets no length limit of its own; a length the OS or its adapter will not take
    //    (see MaxTransferLength) fails with OsError, `osError` the invalid-argument code, before
    //    anything reaches the device. MassDevice splits what it can to fit.
    //  - `timeoutMs` is how long to wait for the whole command (Windows counts whole seconds and
    //    rounds up; 0 stands for kPassThroughTimeoutMs). Without an answer in time: Timeout, and
    //    the command may or may not have run; the handle stays open, but the OS may have reset
    //    the device, so what it was doing cannot be assumed to go on.
    //  - Data-in: only the first `length - residual` bytes of `data` are the device's; the rest
    //    is undefined (as is all of it when the result is not Ok).
    virtual TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                                   uint32_t timeoutMs) = 0;
    // The largest data phase one request may carry on this device's path (host adapter, driver,
    // USB bridge), in bytes; 0 when the backend cannot tell. Touches no device.
    virtual uint32_t MaxTransferLength() { return 0; }
};

// A platform backend. Every method may be called from any thread, also at the same time: jobs on
// different threads open their own handles.
class IPassThroughBackend {
public:
    virtual ~IPassThroughBackend() = default;
    // The volumes to probe at a scan, in scan order (letters B..Z, sd*/sr* by name, sim names).
    virtual std::vector<VolumeRef> ListVolumes() = 0;
    // Drive-type test done before a volume is opened. A name that is not there is neither
    // Removable nor CdRom, so it is never opened.
    virtual DriveType QueryDriveType(const std::string& name, const std::string& path) = 0;
    // Opens a volume for read and write; null with `err` (when not null) set on failure, `err`
    // None on success. A volume that is not there, or no longer, is NotFound.
    virtual std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                           OpenError* err) = 0;
    // Optional: the volume's identity read without opening it (Linux reads sysfs), so a volume
    // that is not ours is never opened; nothing when the backend cannot tell before an open.
    // Touches no device.
    virtual std::optional<VolumeIdentity> PeekIdentity(const std::string& name, const std::string& path) {
        (void)name;
        (void)path;
        return std::nullopt;
    }
    // Optional: an operator hint for an open failure (e.g. how to fix permissions); empty when
    // none, which is what a backend without hints returns. Touches no device.
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
