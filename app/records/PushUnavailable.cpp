// A build without libpq (the Windows cross-build) pushes nothing: every push says why.
#include "app/RecordsPush.h"

namespace brev {
namespace {
constexpr const char* kNoClient = "this build of brevload has no PostgreSQL client";
}

PushResult PushRecords(Records& records, const std::string&) {
    PushResult result;
    std::string ignored;
    result.waiting = records.CountUnsent(ignored);
    result.error = kNoClient;
    return result;
}

bool InitCentralDatabase(const std::string&, std::string& error) {
    error = kNoClient;
    return false;
}

RecordsPusher::RecordsPusher(std::shared_ptr<Records> records, std::string url,
                             std::chrono::milliseconds retry)
    : records_(std::move(records)), url_(std::move(url)), retry_(retry), lastError_(kNoClient) {}

RecordsPusher::~RecordsPusher() = default;
void RecordsPusher::Wake() {}
void RecordsPusher::Stop() {}

std::string RecordsPusher::lastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void RecordsPusher::run() {}

}  // namespace brev
