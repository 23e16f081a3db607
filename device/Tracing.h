// A record of every command sent: one line per transfer, "NAME DIR CDBHEX LEN STATUS".
// DIR is "in" or "out" (commands without data are "out"), CDBHEX the 16 block bytes as
// 32 upper-case hex digits, LEN the data length in decimal, STATUS "ok" or "fail".
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/PassThrough.h"

namespace brev {

std::string FormatTraceLine(const std::string& name, const uint8_t* cdb, DataDirection dir, uint32_t length,
                            const TransferResult& result);

// Collects trace lines from any number of threads; each line is written whole.
class TraceSink {
public:
    // Lines kept in memory only.
    TraceSink();
    // Lines appended to `file` (flushed per line), and kept in memory too when asked.
    explicit TraceSink(const std::filesystem::path& file, bool keepInMemory = false);
    ~TraceSink();
    TraceSink(const TraceSink&) = delete;
    TraceSink& operator=(const TraceSink&) = delete;

    // False when a file was asked for and could not be opened (or a write to it failed).
    bool good() const;
    void Append(const std::string& line);
    std::vector<std::string> Lines() const;
    void ClearLines();

private:
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool keepInMemory_ = true;
    bool failed_ = false;
    std::vector<std::string> lines_;
};

// Wraps another backend; every handle it opens traces each transfer after it completes.
class TracingBackend : public IPassThroughBackend {
public:
    TracingBackend(std::shared_ptr<IPassThroughBackend> inner, std::shared_ptr<TraceSink> sink);

    std::vector<VolumeRef> ListVolumes() override;
    DriveType QueryDriveType(const std::string& name, const std::string& path) override;
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override;
    std::optional<VolumeIdentity> PeekIdentity(const std::string& name, const std::string& path) override;
    std::string OpenErrorHint(const std::string& name, const std::string& path, OpenError err) override;

    const std::shared_ptr<IPassThroughBackend>& inner() const { return inner_; }
    const std::shared_ptr<TraceSink>& sink() const { return sink_; }

private:
    std::shared_ptr<IPassThroughBackend> inner_;
    std::shared_ptr<TraceSink> sink_;
};

}  // namespace brev
