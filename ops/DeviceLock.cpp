#include "ops/DeviceLock.h"

#include "ops/Failure.h"
#include "ops/JobReport.h"
#include "ops/Jobs.h"
#include "ops/Texts.h"

namespace brev {

bool TakeDeviceLock(const JobEnvironment& env, const std::string& key, const JobReport& report,
                    JobOutcome& outcome, std::unique_ptr<IDeviceLock>& held) {
    if (env.deviceLocks == nullptr) return true;
    DeviceLockAttempt attempt = env.deviceLocks->TryLock(key);
    if (attempt.lock != nullptr || !attempt.busy) {
        held = std::move(attempt.lock);
        return true;
    }
    report.log(text::FillText(text::kDeviceBusy, report.name()));
    SetFailure(outcome, reason::kBusy,
               "the lock of " + key + " is held by " +
                   (attempt.holder.empty() ? std::string("another brevload process") : attempt.holder));
    return false;
}

}  // namespace brev
