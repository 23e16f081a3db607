// A build without libpq (the Windows cross-build) pushes nothing: every push says why.
#include "app/RecordsPush.h"

namespace brev {
namespace {
constexpr const char* kNoClient =
    "this build of brevload cannot push records to a central database: it was built without "
    "PostgreSQL's client library (libpq); the records stay in the station's file";
}

std::string PushUnavailableReason() { return kNoClient; }

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

struct RecordsPusher::Shared {};

RecordsPusher::RecordsPusher(std::shared_ptr<Records>, std::string, std::chrono::milliseconds,
                             std::chrono::milliseconds stopWait)
    : stopWait_(stopWait) {}

RecordsPusher::~RecordsPusher() = default;
void RecordsPusher::Wake() {}
void RecordsPusher::Stop() {}
std::string RecordsPusher::lastError() const { return kNoClient; }

}  // namespace brev
