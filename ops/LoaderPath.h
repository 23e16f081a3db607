// The start and finish shared by the two paths that write through a loader
// (external SPI flash and PC-mode firmware): file, row, device objects, outcome report.
#pragma once

#include <functional>
#include <memory>

#include "device/CommandSet.h"
#include "ops/JobFile.h"
#include "ops/JobReport.h"
#include "ops/Jobs.h"

namespace brev {

using LoaderPathWriter =
    std::function<bool(const JobEnvironment&, const DownloadJob&, JobFile&,
                       const std::shared_ptr<CDataLoader2>&, const JobReport&, JobOutcome&)>;

JobOutcome RunLoaderPath(const JobEnvironment& env, const DownloadJob& job, const char* successText,
                         const LoaderPathWriter& write);

}  // namespace brev
