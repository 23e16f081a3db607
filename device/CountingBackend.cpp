#include "device/CountingBackend.h"

namespace brev {
namespace {

class CountingHandle : public IPassThroughHandle {
public:
    CountingHandle(std::unique_ptr<IPassThroughHandle> inner, std::shared_ptr<std::atomic<uint64_t>> bytes)
        : inner_(std::move(inner)), bytes_(std::move(bytes)) {}

    bool Identify(VolumeIdentity& out) override { return inner_->Identify(out); }
    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        TransferResult r = inner_->Execute(cdb, dir, data, length, timeoutMs);
        if (r.ok() && dir != DataDirection::None) bytes_->fetch_add(length - r.residual);
        return r;
    }
    uint32_t MaxTransferLength() override { return inner_->MaxTransferLength(); }

private:
    std::unique_ptr<IPassThroughHandle> inner_;
    std::shared_ptr<std::atomic<uint64_t>> bytes_;
};

}  // namespace

std::unique_ptr<IPassThroughHandle> CountingBackend::OpenVolume(const std::string& name,
                                                                const std::string& path, OpenError* err) {
    auto handle = inner_->OpenVolume(name, path, err);
    if (!handle) return handle;
    return std::make_unique<CountingHandle>(std::move(handle), counter(name));
}

uint64_t CountingBackend::BytesFor(const std::string& name) { return counter(name)->load(); }

std::shared_ptr<std::atomic<uint64_t>> CountingBackend::counter(const std::string& name) {
    std::lock_guard lock(mutex_);
    auto& c = counters_[name];
    if (!c) c = std::make_shared<std::atomic<uint64_t>>(0);
    return c;
}

}  // namespace brev
