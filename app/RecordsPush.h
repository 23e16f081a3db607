// Pushing the station's records to the factory's central PostgreSQL database. The local file is
// the outbox: a record is marked sent only after the server committed it, and the server keeps
// one row per uuid, so pushing again is harmless.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/Records.h"

namespace brev {

struct PushResult {
    int64_t sent = 0;     // committed by the server in this push
    int64_t waiting = 0;  // still waiting afterwards (-1: unknown)
    std::string error;    // why the push stopped early; empty when all went
};

// Sends every waiting record, in batches of one transaction each.
PushResult PushRecords(Records& records, const std::string& url);

// Creates the central table (docs/records.sql) when it is missing.
bool InitCentralDatabase(const std::string& url, std::string& error);

// Empty when this build can push; else why it cannot.
std::string PushUnavailableReason();

// Pushes in the background: after every record committed (Wake) and, while records wait, every
// `retry`. Never blocks the caller of Wake.
class RecordsPusher {
public:
    // `stopWait`: how long Stop waits for a push under way and the last one. A push that takes
    // longer (a server that does not answer) goes on alone; what it cannot send waits for the next
    // run or a sync.
    RecordsPusher(std::shared_ptr<Records> records, std::string url,
                  std::chrono::milliseconds retry = std::chrono::seconds(30),
                  std::chrono::milliseconds stopWait = std::chrono::seconds(5));
    ~RecordsPusher();
    RecordsPusher(const RecordsPusher&) = delete;
    RecordsPusher& operator=(const RecordsPusher&) = delete;

    void Wake();
    // One last push of what waits, then the thread ends. Runs once.
    void Stop();
    // The last push's error; empty after a push that sent everything.
    std::string lastError() const;

private:
    // What the pushing thread uses: it may outlive the pusher (see stopWait).
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::chrono::milliseconds stopWait_;
    std::thread thread_;
};

}  // namespace brev
