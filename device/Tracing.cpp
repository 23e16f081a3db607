#include "device/Tracing.h"

#include <utility>

namespace brev {

std::string FormatTraceLine(const std::string& name, const uint8_t* cdb, DataDirection dir, uint32_t length,
                            const TransferResult& result) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = name;
    line += dir == DataDirection::In ? " in " : " out ";
    for (std::size_t i = 0; i < kCdbSize; ++i) {
        const uint8_t b = cdb != nullptr ? cdb[i] : 0;
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    line += ' ';
    line += std::to_string(length);
    line += CheckedResult(result).ok() ? " ok" : " fail";
    return line;
}

TraceSink::TraceSink() = default;

TraceSink::TraceSink(const std::filesystem::path& file, bool keepInMemory) : keepInMemory_(keepInMemory) {
    file_ = std::make_unique<AtomicFile>(file);
    failed_ = static_cast<bool>(file_->Open());
}

// An uncommitted file is dropped with its temporary file.
TraceSink::~TraceSink() = default;

std::error_code TraceSink::Commit() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return {};
    const std::error_code ec = file_->Commit();
    failed_ = failed_ || static_cast<bool>(ec);
    file_.reset();
    return ec;
}

bool TraceSink::good() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

void TraceSink::Append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
        // Written through per line so that a trace survives a crash or a pulled cable.
        const std::string text = line + '\n';
        if (file_->Write(text.data(), text.size())) failed_ = true;
    }
    if (keepInMemory_) lines_.push_back(line);
}

std::vector<std::string> TraceSink::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void TraceSink::ClearLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

namespace {

class TracingHandle : public IPassThroughHandle {
public:
    TracingHandle(std::string name, std::unique_ptr<IPassThroughHandle> inner,
                  std::shared_ptr<TraceSink> sink, TransferObserver observer)
        : name_(std::move(name)),
          inner_(std::move(inner)),
          sink_(std::move(sink)),
          observer_(std::move(observer)) {}

    bool Identify(VolumeIdentity& out) override { return inner_->Identify(out); }

    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        TransferResult result = inner_->Execute(cdb, dir, data, length, timeoutMs);
        if (sink_) sink_->Append(FormatTraceLine(name_, cdb, dir, length, result));
        if (observer_) observer_(name_, cdb, result);
        return result;
    }
    uint32_t MaxTransferLength() override { return inner_->MaxTransferLength(); }

private:
    std::string name_;
    std::unique_ptr<IPassThroughHandle> inner_;
    std::shared_ptr<TraceSink> sink_;
    TransferObserver observer_;
};

}  // namespace

TracingBackend::TracingBackend(std::shared_ptr<IPassThroughBackend> inner, std::shared_ptr<TraceSink> sink,
                               TransferObserver observer)
    : inner_(std::move(inner)), sink_(std::move(sink)), observer_(std::move(observer)) {}

std::vector<VolumeRef> TracingBackend::ListVolumes() {
    return inner_ ? inner_->ListVolumes() : std::vector<VolumeRef>{};
}

DriveType TracingBackend::QueryDriveType(const std::string& name, const std::string& path) {
    return inner_ ? inner_->QueryDriveType(name, path) : DriveType::Unknown;
}

std::unique_ptr<IPassThroughHandle> TracingBackend::OpenVolume(const std::string& name,
                                                               const std::string& path, OpenError* err) {
    if (!inner_) {
        if (err != nullptr) *err = OpenError::NotFound;
        return nullptr;
    }
    std::unique_ptr<IPassThroughHandle> handle = inner_->OpenVolume(name, path, err);
    if (!handle) return nullptr;
    return std::make_unique<TracingHandle>(name, std::move(handle), sink_, observer_);
}

std::optional<VolumeIdentity> TracingBackend::PeekIdentity(const std::string& name, const std::string& path) {
    return inner_ ? inner_->PeekIdentity(name, path) : std::nullopt;
}

std::string TracingBackend::OpenErrorHint(const std::string& name, const std::string& path, OpenError err) {
    return inner_ ? inner_->OpenErrorHint(name, path, err) : std::string{};
}

}  // namespace brev
