// The station's records file as `history` and `records sync` open it: the same file and station
// name the station's own jobs use.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/Records.h"
#include "cli/Options.h"

namespace brev::cli {

// --records, else records.sqlite where the settings live; named by --station, else the settings'
// key, else the host name, so that rows its dead processes left are seen as its own.
std::shared_ptr<Records> OpenStationRecords(const CommonOptions& options,
                                            const std::filesystem::path& settingsFile, std::string& error);

}  // namespace brev::cli
