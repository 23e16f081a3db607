#include "ops/LoaderPath.h"

#include "base/Utf8Path.h"
#include "ops/Failure.h"
#include "ops/Texts.h"

namespace brev {

JobOutcome RunLoaderPath(const JobEnvironment& env, const DownloadJob& job, const char* successText,
                         const LoaderPathWriter& write) {
    const JobReport report(env.notifier, job.deviceName);
    auto device = std::make_shared<MassDevice>(env.backend, job.devicePath, job.deviceName,
                                               env.vendorPatterns, env.productPatterns);
    auto protocol = std::make_shared<CFlashProtocol>();
    auto loader = std::make_shared<CDataLoader2>(device, protocol);

    JobOutcome outcome;
    JobFile file(PathFromUtf8(job.filePath));
    if (!file.isOpen()) {
        SetFailure(outcome, reason::kFileUnreadable, file.openError());
        report.log(text::kCannotAccessFile);
        report.box(text::kCannotAccessFile);
        return outcome;
    }
    report.row(0);
    report.image(ProgressLoading);

    outcome.success = write(env, job, file, loader, report, outcome);
    report.progress(100);
    if (outcome.success) {
        report.log(successText);
        report.log(text::kSpacer);
        report.image(ProgressSuccess);
    } else {
        report.log(text::kDownloadFailed);
        report.image(ProgressFail);
    }
    file.Close();
    device->Close();
    return outcome;
}

}  // namespace brev
