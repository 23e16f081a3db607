// What download and watch share: the file check before any device is touched, and the start
// of one download job through the same operation the window uses.
#pragma once

#include <string>

#include "cli/Command.h"
#include "cli/JobRunner.h"

namespace brev::cli {

// The file must be a valid update image (any readable file with --ex-flash), and the reset program
// readable when a reset after the download is asked for. Prints why not.
bool CheckDownloadFile(CommandContext& ctx, const std::string& file);

JobRunner::StartFn DownloadStarter(Session& session, const std::string& file);

}  // namespace brev::cli
