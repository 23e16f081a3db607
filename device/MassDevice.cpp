#include "device/MassDevice.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/Bytes.h"
#include "device/CommandSet.h"

namespace brev {

namespace {

bool AnyOccurs(const std::string& text, const PatternList& patterns) {
    for (const auto& p : patterns) {
        if (text.find(p) != std::string::npos) return true;  // an empty pattern occurs everywhere
    }
    return false;
}

}  // namespace

bool MatchesPatterns(const std::string& vendor, const std::string& product, const PatternList& vendorPatterns,
                     const PatternList& productPatterns) {
    // The first product pattern that occurs decides; then any vendor pattern will do.
    return AnyOccurs(product, productPatterns) && AnyOccurs(vendor, vendorPatterns);
}

MassDevice::MassDevice(std::shared_ptr<IPassThroughBackend> backend, std::string devicePath, std::string name,
                       PatternList vendorPatterns, PatternList productPatterns)
    : backend_(std::move(backend)),
      devicePath_(std::move(devicePath)),
      name_(std::move(name)),
      vendorPatterns_(std::move(vendorPatterns)),
      productPatterns_(std::move(productPatterns)) {}

MassDevice::~MassDevice() { Close(); }

int MassDevice::Open() {
    if (opened_.load()) return 1;
    opened_.store(false);
    lastOpenError_ = OpenError::None;
    if (!backend_ || devicePath_.empty()) return 0;

    // Only removable and CD-ROM volumes are candidates; nothing else is ever opened.
    const DriveType type = backend_->QueryDriveType(name_, devicePath_);
    if (type == DriveType::NoRootDir) lastOpenError_ = OpenError::NotFound;  // gone since it was listed
    if (type != DriveType::Removable && type != DriveType::CdRom) return 0;

    // Where the identity can be read without opening, another maker's disk is never opened, so
    // its node's permissions or absence are no concern of ours.
    ours_ = false;
    if (const std::optional<VolumeIdentity> peek = backend_->PeekIdentity(name_, devicePath_)) {
        if (peek->bus != BusType::Usb || peek->vendor.empty() || peek->product.empty() ||
            !MatchesPatterns(peek->vendor, peek->product, vendorPatterns_, productPatterns_))
            return 0;
        ours_ = true;
    }

    OpenError err = OpenError::None;
    std::unique_ptr<IPassThroughHandle> handle = backend_->OpenVolume(name_, devicePath_, &err);
    if (!handle) {
        lastOpenError_ = err == OpenError::None ? OpenError::Other : err;
        return 0;
    }

    VolumeIdentity id;
    if (!handle->Identify(id) || id.bus != BusType::Usb) return 0;  // the handle closes here
    vendorId_ = id.vendor;
    productId_ = id.product;
    location_ = id.location;
    if (productId_.empty() || vendorId_.empty()) return 0;
    if (!MatchesPatterns(vendorId_, productId_, vendorPatterns_, productPatterns_)) return 0;

    maxTransfer_ = handle->MaxTransferLength();
    handle_ = std::move(handle);
    opened_.store(true);
    return 1;
}

void MassDevice::Close() {
    opened_.store(false);
    handle_.reset();
    maxTransfer_ = 0;
}

std::string MassDevice::permissionProblem() const {
    std::string text;
    if (lastOpenError_ == OpenError::PermissionDenied) {
        text = "cannot open " + name_ + " (" + devicePath_ + "): permission denied.";
    } else if (lastOpenError_ == OpenError::NotFound && ours_) {
        // Known to be ours, present, yet not openable (no sg node): say so rather than find nothing.
        text = "cannot open " + name_ + " (" + devicePath_ + "), a device of ours.";
    } else {
        return {};
    }
    const std::string hint = openErrorHint();
    if (!hint.empty()) text += " " + hint;
    return text;
}

std::string MassDevice::openErrorHint() const {
    if (lastOpenError_ == OpenError::None || !backend_) return {};
    return backend_->OpenErrorHint(name_, devicePath_, lastOpenError_);
}

bool MassDevice::TransferIn(const uint8_t* cdb, uint32_t length, uint8_t* buffer) {
    return transfer(cdb, DataDirection::In, buffer, length);
}

bool MassDevice::TransferOut(const uint8_t* cdb, uint32_t length, const uint8_t* buffer) {
    // The handle interface takes one mutable buffer for both directions; data-out is only read.
    return transfer(cdb, DataDirection::Out, const_cast<uint8_t*>(buffer), length);
}

bool MassDevice::transfer(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length) {
    lastTransfer_ = TransferResult{};
    lastCommand_.fill(0);
    if (cdb != nullptr) std::copy_n(cdb, kCdbSize, lastCommand_.begin());
    lastTransferNote_.clear();
    if (!handle_ || !opened_.load()) {
        lastTransfer_.status = TransferStatus::NotOpen;
        return false;
    }
    if (cdb == nullptr || (length > 0 && data == nullptr)) {
        // A request the OS would refuse: never hand a null buffer to a driver.
        lastTransfer_.status = TransferStatus::OsError;
        lastTransfer_.osError = EINVAL;
        return false;
    }
    if (length == 0) {
        dir = DataDirection::None;
        data = nullptr;
    }
    if (maxTransfer_ != 0 && length > maxTransfer_) return transferSplit(cdb, dir, data, length);
    lastTransfer_ = CheckedResult(handle_->Execute(cdb, dir, data, length, kPassThroughTimeoutMs));
    return lastTransfer_.ok();
}

bool MassDevice::transferSplit(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length) {
    const uint32_t addr = GetLe32(cdb + 6);
    const bool wraps = uint64_t{addr} + length > 0x100000000ull;
    if (!cmd::CarriesAddressedData(cdb, dir, length) || wraps) {
        // What the kernel would refuse anyway; nothing reaches the device.
        lastTransfer_.status = TransferStatus::OsError;
        lastTransfer_.osError = EINVAL;
        lastTransfer_.residual = length;
        lastTransferNote_ = "a request of " + std::to_string(length) + " bytes exceeds the limit of " +
                            std::to_string(maxTransfer_) + " bytes per request on " + name_ +
                            " and its command cannot be split";
        return false;
    }
    // Whole 512-byte sectors per piece where the limit allows, as the kernel counts it.
    const uint32_t piece = maxTransfer_ >= 512 ? maxTransfer_ / 512 * 512 : maxTransfer_;
    Cdb block{};
    std::copy_n(cdb, kCdbSize, block.begin());
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(piece, length - done);
        PutLe32(&block[2], n);
        PutLe32(&block[6], addr + done);
        lastTransfer_ =
            CheckedResult(handle_->Execute(block.data(), dir, data + done, n, kPassThroughTimeoutMs));
        if (!lastTransfer_.ok()) {
            // The whole transfer's count: every later piece is not moved either.
            lastTransfer_.residual += length - done - n;
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace brev
