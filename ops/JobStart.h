// The one way a job gets its thread: through the registry, with its outcome reported at the end.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ops/Jobs.h"

namespace brev {

// Runs `body` on a registry thread unless a job for `deviceName` is running (or there is no
// registry). JobFinished follows with the body's outcome once the device no longer counts as
// busy, so a listener may start the device's next job from there. False when nothing started.
// With `record`, the environment's recorder keeps the job from its start to its end.
bool StartRegisteredJob(const JobEnvironment& env, const std::string& deviceName,
                        std::function<JobOutcome()> body, std::optional<JobRecordStart> record = {});

// Runs `body` on the caller's thread, kept by the environment's recorder.
JobOutcome RunRecordedJob(const JobEnvironment& env, const JobRecordStart& record,
                          const std::function<JobOutcome()>& body);

// The record of a download-kind job (download, erase, random test, verify) as it starts.
JobRecordStart DownloadJobRecord(const DownloadJob& job, bool verify = false);

}  // namespace brev
