// A scripted pass-through backend for the device tests: volumes with a drive type, an
// identity and a handler per transfer, plus counters of every backend call.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/CommandSet.h"
#include "device/PassThrough.h"

namespace brev::test {

using Handler =
    std::function<TransferResult(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length)>;

struct FakeVolume {
    FakeVolume(std::string n, std::string p, DriveType type = DriveType::Removable,
               VolumeIdentity id = {BusType::Usb, "BRVNTIS ", "DEVICE          "}, bool identifies = true,
               OpenError failOpen = OpenError::None)
        : name(std::move(n)),
          path(std::move(p)),
          driveType(type),
          identity(std::move(id)),
          identifyOk(identifies),
          openError(failOpen) {}
    FakeVolume() = default;

    std::string name;
    std::string path;
    DriveType driveType = DriveType::Removable;
    VolumeIdentity identity;
    bool identifyOk = true;
    OpenError openError = OpenError::None;  // anything else: OpenVolume fails with it
    Handler handler;                        // none: every command succeeds
    // The path's per-request limit the handle reports (0: none known). The fake does not
    // enforce it: a handler that models the kernel does.
    uint32_t maxTransfer = 0;
};

struct SentCommand {
    std::string volume;
    Cdb cdb{};
    DataDirection dir = DataDirection::None;
    uint32_t length = 0;
    bool dataNull = true;
    uint32_t timeoutMs = 0;
};

struct FakeCounters {
    int driveTypeQueries = 0;
    int opens = 0;
    int identifies = 0;
    int executes = 0;
    int liveHandles = 0;
};

class FakeBackend : public IPassThroughBackend, public std::enable_shared_from_this<FakeBackend> {
public:
    void Add(FakeVolume v) {
        std::lock_guard<std::mutex> lock(mutex_);
        order_.push_back(v.name);
        volumes_[v.name] = std::move(v);
    }
    void SetHandler(const std::string& name, Handler h) {
        std::lock_guard<std::mutex> lock(mutex_);
        volumes_.at(name).handler = std::move(h);
    }
    FakeCounters counters() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return counters_;
    }
    std::vector<SentCommand> sent() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    std::string hint = "add your user to the plugdev group";

    std::vector<VolumeRef> ListVolumes() override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<VolumeRef> out;
        for (const auto& n : order_) out.push_back({n, volumes_.at(n).path});
        return out;
    }
    DriveType QueryDriveType(const std::string& name, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.driveTypeQueries;
        auto it = volumes_.find(name);
        return it == volumes_.end() ? DriveType::NoRootDir : it->second.driveType;
    }
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string&,
                                                   OpenError* err) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.opens;
        auto it = volumes_.find(name);
        if (it == volumes_.end() || it->second.openError != OpenError::None) {
            *err = it == volumes_.end() ? OpenError::NotFound : it->second.openError;
            return nullptr;
        }
        ++counters_.liveHandles;
        return std::make_unique<Handle>(shared_from_this(), name);
    }
    std::string OpenErrorHint(const std::string&, const std::string&, OpenError err) override {
        return err == OpenError::PermissionDenied ? hint : std::string{};
    }

private:
    class Handle : public IPassThroughHandle {
    public:
        Handle(std::shared_ptr<FakeBackend> owner, std::string name)
            : owner_(std::move(owner)), name_(std::move(name)) {}
        ~Handle() override {
            std::lock_guard<std::mutex> lock(owner_->mutex_);
            --owner_->counters_.liveHandles;
        }
        bool Identify(VolumeIdentity& out) override {
            std::lock_guard<std::mutex> lock(owner_->mutex_);
            ++owner_->counters_.identifies;
            const FakeVolume& v = owner_->volumes_.at(name_);
            if (!v.identifyOk) return false;
            out = v.identity;
            return true;
        }
        TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                               uint32_t timeoutMs) override {
            Handler handler;
            {
                std::lock_guard<std::mutex> lock(owner_->mutex_);
                ++owner_->counters_.executes;
                SentCommand s{name_, {}, dir, length, data == nullptr, timeoutMs};
                std::copy(cdb, cdb + kCdbSize, s.cdb.begin());
                owner_->sent_.push_back(s);
                handler = owner_->volumes_.at(name_).handler;
            }
            return handler ? handler(cdb, dir, data, length) : TransferResult{};
        }
        uint32_t MaxTransferLength() override {
            std::lock_guard<std::mutex> lock(owner_->mutex_);
            return owner_->volumes_.at(name_).maxTransfer;
        }

    private:
        std::shared_ptr<FakeBackend> owner_;
        std::string name_;
    };

    mutable std::mutex mutex_;
    std::vector<std::string> order_;
    std::map<std::string, FakeVolume> volumes_;
    std::vector<SentCommand> sent_;
    FakeCounters counters_;
};

inline TransferResult Status(TransferStatus s, uint8_t scsiStatus = 0) {
    TransferResult r;
    r.status = s;
    r.scsiStatus = scsiStatus;
    return r;
}

// Status GOOD, but `residual` bytes of the data phase not moved.
inline TransferResult Short(uint32_t residual) {
    TransferResult r;
    r.residual = residual;
    return r;
}

// "C0 03 00 ..." -> "C003..." so expected blocks can be written with spaces.
inline std::string Compact(std::string s) {
    std::erase(s, ' ');
    return s;
}

}  // namespace brev::test
