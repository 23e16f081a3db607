// A build without SQLite keeps no records: opening the file says why,
// and the station goes on without them.

#include "app/Records.h"

namespace brev {

bool RecordsAvailable() { return false; }

std::string UtcNow() { return {}; }

std::string FileSha256(const std::filesystem::path&) { return {}; }

std::shared_ptr<Records> Records::Open(const std::filesystem::path&, std::string, std::string,
                                       std::string& error) {
    error = "this build of brevload keeps no records (it has no SQLite)";
    return nullptr;
}

Records::~Records() = default;
void Records::SetOnCommitted(std::function<void()>) {}
int64_t Records::Started(const JobRecordStart&) { return 0; }
void Records::Finished(int64_t, const JobOutcome&) {}
std::vector<RecordRow> Records::Query(const RecordFilter&, std::string& error) {
    error = "no records";
    return {};
}
std::vector<RecordRow> Records::Unsent(int, std::string&) { return {}; }
bool Records::MarkSent(const std::vector<std::string>&, std::string&) { return false; }
int64_t Records::CountUnsent(std::string&) { return 0; }

}  // namespace brev
