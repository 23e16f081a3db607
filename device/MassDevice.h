// One target device: its identity strings and an open pass-through handle.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceIdentity.h"
#include "device/PassThrough.h"

namespace brev {

// True when the product matches a product pattern and the vendor a vendor pattern
// (case-sensitive substring, empty pattern matches all, empty list matches nothing).
bool MatchesPatterns(const std::string& vendor, const std::string& product, const PatternList& vendorPatterns,
                     const PatternList& productPatterns);

class MassDevice {
public:
    MassDevice(std::shared_ptr<IPassThroughBackend> backend, std::string devicePath, std::string name,
               PatternList vendorPatterns, PatternList productPatterns);
    ~MassDevice();  // closes a still-open handle
    MassDevice(const MassDevice&) = delete;
    MassDevice& operator=(const MassDevice&) = delete;

    // 1 when open and matching (handle kept open), 0 otherwise (closed).
    int Open();
    void Close();
    // False without sending when closed; false when the request is not delivered or the
    // device answers with a status other than GOOD.
    // A data phase longer than the path takes in one request (maxTransfer()) goes out as
    // consecutive requests when the command addresses its data (cmd::CarriesAddressedData): the
    // address advanced and the length reduced in each, as if the caller had sent them one by one;
    // the first that fails ends the transfer. Any other command that does not fit fails unsent.
    bool TransferIn(const uint8_t* cdb, uint32_t length, uint8_t* buffer);
    bool TransferOut(const uint8_t* cdb, uint32_t length, const uint8_t* buffer);

    std::string GetProductId() const { return productId_; }
    std::string GetVendorId() const { return vendorId_; }
    // Where the device was found by the last successful Open().
    const DeviceLocation& location() const { return location_; }
    const std::string& name() const { return name_; }
    const std::string& devicePath() const { return devicePath_; }
    bool isOpen() const { return opened_.load(); }
    // Details of the last transfer and of the last failed open, for logs and tests.
    // lastTransfer(): NoDevice / OsError / Timeout mean not delivered, CheckCondition a rejected command.
    const TransferResult& lastTransfer() const { return lastTransfer_; }
    // The command block of the last transfer asked for (zeros before the first): with
    // lastTransfer() it says which step of a multi-command operation failed.
    const std::array<uint8_t, kCdbSize>& lastCommand() const { return lastCommand_; }
    // Why the last transfer failed when the status alone does not say it (a request above the
    // path's limit); empty otherwise.
    const std::string& lastTransferNote() const { return lastTransferNote_; }
    // Bytes one request may carry on the open handle's path; 0 when closed or not known.
    uint32_t maxTransfer() const { return maxTransfer_; }
    // Why the last Open() could not open the volume; None when it opened, or was no candidate or no match.
    OpenError lastOpenError() const { return lastOpenError_; }
    std::string openErrorHint() const;
    // After a failed Open(): the operator's text when the device exists but may not be opened,
    // or is known to be ours yet cannot be opened (it would otherwise look exactly like no
    // device); empty for every other failure.
    std::string permissionProblem() const;

private:
    bool transfer(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length);
    bool transferSplit(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length);

    std::shared_ptr<IPassThroughBackend> backend_;
    std::string devicePath_;
    std::string name_;
    std::string vendorId_;
    std::string productId_;
    DeviceLocation location_;
    bool ours_ = false;  // the last Open() read a matching identity before opening
    PatternList vendorPatterns_;
    PatternList productPatterns_;
    std::unique_ptr<IPassThroughHandle> handle_;
    std::atomic<bool> opened_{false};
    TransferResult lastTransfer_;
    std::array<uint8_t, kCdbSize> lastCommand_{};
    std::string lastTransferNote_;
    uint32_t maxTransfer_ = 0;
    OpenError lastOpenError_ = OpenError::None;
};

}  // namespace brev
