// The station's records: one row per job per device in a SQLite file several processes share
// (WAL, a busy time-out, one transaction per record). The file is also the outbox of the
// factory's central database: every row waits there until the server committed it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ops/JobRecord.h"
#include "ops/SharedSettings.h"

struct sqlite3;

namespace brev {

struct RecordRow {
    int64_t id = 0;
    std::string uuid;
    std::string startedAt, endedAt;  // UTC, 2026-12-11T00:20:06.123Z
    std::string station, version, operation, path;
    std::string eraseUnit;  // 4K or 64K
    int resetAfter = 0;
    std::string pins, bus;  // bus: the five bus bytes, "00 00 00 00 00"
    std::string device, slot, portPath, serial, flashId;
    std::string imagePath;
    int64_t imageSize = 0, headerLength = 0;
    std::string dataCrc16, sha256;  // of the data after the header, of the whole file
    int64_t bytes = 0;              // bytes moved
    std::string result;             // started (still running), ok, failed, interrupted
    std::string reason, detail;
    int64_t durationMs = 0;
    bool sent = false;  // committed by the central database
};

struct RecordFilter {
    std::vector<std::string> devices;  // MatchDevice selectors; any one matches
    std::string slot, result;
    std::string since, until;  // ISO date or time prefixes, both inclusive
    std::string image;         // the image's path or a prefix of its SHA-256
    int limit = 0;             // 0: all
};

// False in a build without SQLite: no records are kept there.
bool RecordsAvailable();
// The machine's host name; empty when unknown.
std::string StationHostName();
// Whether the process `pid` of this machine still runs; this process's id.
bool ProcessAlive(int64_t pid);
int64_t CurrentProcessId();
// Now in UTC, ISO 8601 with milliseconds.
std::string UtcNow();
// SHA-256 of a whole file, lower-case hex; empty when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

struct ImageFacts {
    bool read = false;
    int64_t size = 0;
    std::string crc16, sha256;
};

class Records : public IJobRecorder {
public:
    static constexpr int kSchemaVersion = 2;

    // Opens (creating or migrating) the file. Rows left "started" by processes of this station
    // that no longer run become interrupted. Null with a reason when the file cannot be used.
    static std::shared_ptr<Records> Open(const std::filesystem::path& file, std::string station,
                                         std::string version, std::string& error);
    ~Records() override;
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // The options in effect (reset-after, bus bytes) are read from here when a job starts.
    void SetSettings(const SharedSettings* settings) { settings_ = settings; }
    // Called after every record committed (the push to the central database hooks in here).
    void SetOnCommitted(std::function<void()> hook);

    int64_t Started(const JobRecordStart& start) override;
    void Finished(int64_t token, const JobOutcome& outcome) override;

    // Newest first.
    std::vector<RecordRow> Query(const RecordFilter& filter, std::string& error);
    // The oldest rows not yet sent and no longer running, at most `limit`.
    std::vector<RecordRow> Unsent(int limit, std::string& error);
    bool MarkSent(const std::vector<std::string>& uuids, std::string& error);
    // Finished rows waiting for the central database.
    int64_t CountUnsent(std::string& error);

    const std::filesystem::path& file() const { return file_; }
    const std::string& lastError() const { return lastError_; }

private:
    Records() = default;
    bool open(const std::filesystem::path& file, std::string& error);
    bool migrate(std::string& error);
    bool exec(const char* sql, std::string& error);
    // Ends the open transaction after a failed step (whose reason is already in the caller's
    // error); false, for the caller to return.
    bool rollBack();
    void notifyCommitted();
    void writeImageFacts(int64_t token, const ImageFacts& facts);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::filesystem::path file_;
    std::string station_, version_;
    const SharedSettings* settings_ = nullptr;
    std::function<void()> onCommitted_;
    std::string lastError_;
    std::map<int64_t, std::future<void>> pending_;  // image hashing beside running jobs
};

}  // namespace brev
