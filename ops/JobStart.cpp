#include "ops/JobStart.h"

#include <memory>
#include <utility>

namespace brev {

bool StartRegisteredJob(const JobEnvironment& env, const std::string& deviceName,
                        std::function<JobOutcome()> body) {
    if (env.registry == nullptr) return false;
    // The outcome lives in the thread's own closures: nothing refers back to the caller.
    auto outcome = std::make_shared<JobOutcome>();
    return env.registry->TryStart(
        deviceName, [body = std::move(body), outcome] { *outcome = body(); },
        [notifier = env.notifier, deviceName, outcome] {
            if (notifier != nullptr) notifier->JobFinished(deviceName, *outcome);
        });
}

}  // namespace brev
