// A record of every command sent: one line per transfer, "NAME DIR CDBHEX LEN STATUS".
// DIR is "in" or "out" (commands without data are "out"), CDBHEX the 16 block bytes as
// 32 upper-case hex digits, LEN the data length in decimal, STATUS "ok" or "fail".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "base/AtomicFile.h"
#include "device/PassThrough.h"

namespace brev {

std::string FormatTraceLine(const std::string& name, const uint8_t* cdb, DataDirection dir, uint32_t length,
                            const TransferResult& result);

// Collects trace lines from any number of threads; each line is written whole.
class TraceSink {
public:
    // Lines kept in memory only.
    TraceSink();
    // Lines written to a temporary file beside `file` as they come (a crash leaves them there),
    // and kept in memory too when asked. Commit puts the file in place of `file`.
    explicit TraceSink(const std::filesystem::path& file, bool keepInMemory = false);
    ~TraceSink();
    TraceSink(const TraceSink&) = delete;
    TraceSink& operator=(const TraceSink&) = delete;

    // False when a file was asked for and could not be opened (or a write to it failed).
    bool good() const;
    // Ends the file: flushed and renamed over the target. The system's reason when the file
    // could not be written whole; the target is then left as it was. Later lines are dropped.
    std::error_code Commit();
    void Append(const std::string& line);
    std::vector<std::string> Lines() const;
    void ClearLines();

private:
    mutable std::mutex mutex_;
    std::unique_ptr<AtomicFile> file_;
    bool keepInMemory_ = true;
    bool failed_ = false;
    std::vector<std::string> lines_;
};

// Called after each transfer with the device's name, the command block and the result.
using TransferObserver =
    std::function<void(const std::string& name, const uint8_t* cdb, const TransferResult&)>;

// Wraps another backend; every handle it opens traces each transfer after it completes (to
// `sink` when set, to `observer` when set).
class TracingBackend : public IPassThroughBackend {
public:
    TracingBackend(std::shared_ptr<IPassThroughBackend> inner, std::shared_ptr<TraceSink> sink,
                   TransferObserver observer = {});

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
    TransferObserver observer_;
};

}  // namespace brev
