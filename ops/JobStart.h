// The one way a job gets its thread: through the registry, with its outcome reported at the end.
#pragma once

#include <functional>
#include <string>

#include "ops/Jobs.h"

namespace brev {

// Runs `body` on a registry thread unless a job for `deviceName` is running (or there is no
// registry). JobFinished follows with the body's outcome once the device no longer counts as
// busy, so a listener may start the device's next job from there. False when nothing started.
bool StartRegisteredJob(const JobEnvironment& env, const std::string& deviceName,
                        std::function<JobOutcome()> body);

}  // namespace brev
