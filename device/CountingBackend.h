// A backend decorator that counts, per device name, the data bytes moved by transfers that
// succeeded, so progress lines can show bytes and a rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device/PassThrough.h"

namespace brev {

class CountingBackend : public IPassThroughBackend {
public:
    explicit CountingBackend(std::shared_ptr<IPassThroughBackend> inner) : inner_(std::move(inner)) {}

    std::vector<VolumeRef> ListVolumes() override { return inner_->ListVolumes(); }
    DriveType QueryDriveType(const std::string& name, const std::string& path) override {
        return inner_->QueryDriveType(name, path);
    }
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override;
    std::optional<VolumeIdentity> PeekIdentity(const std::string& name, const std::string& path) override {
        return inner_->PeekIdentity(name, path);
    }
    std::string OpenErrorHint(const std::string& name, const std::string& path, OpenError err) override {
        return inner_->OpenErrorHint(name, path, err);
    }

    // Bytes moved to and from `name` since the program started.
    uint64_t BytesFor(const std::string& name);

private:
    std::shared_ptr<std::atomic<uint64_t>> counter(const std::string& name);

    std::shared_ptr<IPassThroughBackend> inner_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<std::atomic<uint64_t>>> counters_;
};

}  // namespace brev
