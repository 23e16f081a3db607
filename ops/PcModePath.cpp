#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "base/Utf8Path.h"
#include "ops/JobFile.h"
#include "ops/JobReport.h"
#include "ops/LoaderPath.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {
namespace {

constexpr uint32_t kPageSize = 256;
constexpr std::chrono::milliseconds kPauseAfterStartWrite{300};

bool WritePcMode(const JobEnvironment& env, const DownloadJob& job, JobFile& file,
                 const std::shared_ptr<CDataLoader2>& loader, const JobReport& report, JobOutcome& outcome) {
    MassDevice& device = *loader->device();
    if (device.Open() == 0) return false;
    if (!device.TransferOut(cmd::PcStartEraseBlock().data(), 0, nullptr)) return false;
    report.log(text::kErasing);
    report.progress(10);
    if (!device.TransferOut(cmd::PcStartWriteBlock().data(), 0, nullptr)) return false;
    if (env.sleep) {
        env.sleep(kPauseAfterStartWrite);
    } else {
        std::this_thread::sleep_for(kPauseAfterStartWrite);
    }

    const uint64_t offset = static_cast<uint64_t>(job.dataOffset);
    if (job.dataOffset < 0 || file.length() <= offset || file.length() - offset > UINT32_MAX) {
        report.log(text::kFileReadFailed);
        return false;
    }
    const auto length = static_cast<uint32_t>(file.length() - offset);
    const uint32_t k = length / kPageSize;
    const uint32_t r = length % kPageSize;
    const double step = k > 0 ? 80.0 / k : 0.0;
    report.log(text::kWritingData);

    uint8_t page[kPageSize];
    auto writePage = [&](uint32_t addr, uint32_t count) {
        if (!file.ReadAt(offset + addr, page, count)) {
            report.log(text::kFileReadFailed);
            return false;
        }
        if (!LoaderWriteVerify(loader, addr, page, count)) return false;
        outcome.bytesWritten += count;
        return true;
    };
    for (uint32_t i = 0; i < k; ++i) {
        if (!writePage(i * kPageSize, kPageSize)) return false;
        report.progress(10 + static_cast<int>(i * step));
    }
    report.progress(90);
    return r == 0 || writePage(k * kPageSize, r);
}

}  // namespace

JobOutcome RunPcModePath(const JobEnvironment& env, const DownloadJob& job) {
    return RunLoaderPath(env, job, text::kDownloadDoneRestart, WritePcMode);
}

}  // namespace brev
