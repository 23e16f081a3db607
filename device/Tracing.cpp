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
    file_ = std::fopen(file.string().c_str(), "a");
    failed_ = file_ == nullptr;
}

TraceSink::~TraceSink() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TraceSink::good() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

void TraceSink::Append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) {
        // Flushed per line so that a trace survives a crash or a pulled cable.
        if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF ||
            std::fflush(file_) != 0) {
            failed_ = true;
        }
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
                  std::shared_ptr<TraceSink> sink)
        : name_(std::move(name)), inner_(std::move(inner)), sink_(std::move(sink)) {}

    bool Identify(VolumeIdentity& out) override { return inner_->Identify(out); }

    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        TransferResult result = inner_->Execute(cdb, dir, data, length, timeoutMs);
        if (sink_) sink_->Append(FormatTraceLine(name_, cdb, dir, length, result));
        return result;
    }
    uint32_t MaxTransferLength() override { return inner_->MaxTransferLength(); }

private:
    std::string name_;
    std::unique_ptr<IPassThroughHandle> inner_;
    std::shared_ptr<TraceSink> sink_;
};

}  // namespace

TracingBackend::TracingBackend(std::shared_ptr<IPassThroughBackend> inner, std::shared_ptr<TraceSink> sink)
    : inner_(std::move(inner)), sink_(std::move(sink)) {}

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
    return std::make_unique<TracingHandle>(name, std::move(handle), sink_);
}

std::optional<VolumeIdentity> TracingBackend::PeekIdentity(const std::string& name, const std::string& path) {
    return inner_ ? inner_->PeekIdentity(name, path) : std::nullopt;
}

std::string TracingBackend::OpenErrorHint(const std::string& name, const std::string& path, OpenError err) {
    return inner_ ? inner_->OpenErrorHint(name, path, err) : std::string{};
}

}  // namespace brev
