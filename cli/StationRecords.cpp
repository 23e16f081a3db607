#include "cli/StationRecords.h"

#include "app/ProgramFolder.h"
#include "app/Station.h"
#include "base/Utf8Path.h"

namespace brev::cli {

std::shared_ptr<Records> OpenStationRecords(const CommonOptions& options,
                                            const std::filesystem::path& settingsFile, std::string& error) {
    const std::filesystem::path file = !options.recordsFile.empty()
                                           ? PathFromUtf8(options.recordsFile)
                                           : RecordsFileFor(CurrentProgramFolders(), settingsFile);
    const std::string station = !options.station.empty() ? options.station : StationNameFor(settingsFile);
    return Records::Open(file, station, BREVLOAD_VERSION, error);
}

}  // namespace brev::cli
