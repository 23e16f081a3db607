#include "ops/JobStart.h"

#include <memory>
#include <utility>

namespace brev {

JobOutcome RunRecordedJob(const JobEnvironment& env, const JobRecordStart& record,
                          const std::function<JobOutcome()>& body) {
    const int64_t token = env.recorder ? env.recorder->Started(record) : 0;
    JobOutcome outcome = body();
    if (token != 0) env.recorder->Finished(token, outcome);
    return outcome;
}

bool StartRegisteredJob(const JobEnvironment& env, const std::string& deviceName,
                        std::function<JobOutcome()> body, std::optional<JobRecordStart> record) {
    if (env.registry == nullptr) return false;
    // The outcome lives in the thread's own closures: nothing refers back to the caller.
    auto outcome = std::make_shared<JobOutcome>();
    return env.registry->TryStart(
        deviceName,
        [body = std::move(body), outcome, record = std::move(record), recorder = env.recorder] {
            // Kept before JobFinished, so whoever waits for the job finds its record.
            const int64_t token = record && recorder ? recorder->Started(*record) : 0;
            *outcome = body();
            if (token != 0) recorder->Finished(token, *outcome);
        },
        [notifier = env.notifier, deviceName, outcome] {
            if (notifier != nullptr) notifier->JobFinished(deviceName, *outcome);
        });
}

JobRecordStart DownloadJobRecord(const DownloadJob& job, bool verify) {
    JobRecordStart r;
    r.operation = verify                 ? "verify"
                  : job.eraseOnly != 0   ? "erase"
                  : job.writeRandom != 0 ? "random-test"
                                         : "download";
    r.path = job.pcModeDevice ? "pc-mode" : job.exFlash != 0 ? "external" : "internal";
    r.eraseUse4K = job.eraseUse4K;
    if (job.exFlash != 0 && !job.pcModeDevice)
        r.pins = job.pins[0] + "," + job.pins[1] + "," + job.pins[2] + "," + job.pins[3];
    r.deviceName = job.deviceName;
    r.slot = job.slot;
    r.portPath = job.portPath;
    r.serial = job.serial;
    if (job.eraseOnly == 0 && job.writeRandom == 0) {
        r.imagePath = job.filePath;
        r.headerLength = job.dataOffset;
    }
    return r;
}

}  // namespace brev
