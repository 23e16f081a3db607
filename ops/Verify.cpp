#include <algorithm>
#include <memory>
#include <vector>

#include "base/Utf8Path.h"
#include "image/ImageChecker.h"
#include "ops/Failure.h"
#include "ops/JobFile.h"
#include "ops/JobReport.h"
#include "ops/JobStart.h"
#include "ops/Jobs.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {
namespace {

// Reads and compares; the first failure or difference is recorded in `outcome`.
bool CompareFlash(const JobEnvironment& env, const DownloadJob& job, uint32_t blockSize, JobFile& file,
                  CDataLoader& loader, const JobReport& report, JobOutcome& outcome) {
    const MassDevice& device = *loader.device();
    const cmd::BusParams bus = env.settings != nullptr ? env.settings->bus() : cmd::BusParams{};
    if (!loader.Init(cmd::EffectiveClkDiv(bus.clkDiv), bus.lineMode, bus.chipSelIndirect, bus.chipSelDirect,
                     bus.chipType)) {
        SetDeviceFailure(outcome, device, reason::kInitFailed);
        return false;
    }
    const std::optional<uint32_t> dataLength = CheckedDataLength(job, file, report, outcome);
    if (!dataLength) return false;

    const uint64_t offset = static_cast<uint64_t>(job.dataOffset);
    std::vector<uint8_t> expected(kReadBackChunk), held(kReadBackChunk);
    for (uint32_t addr = 0; addr < *dataLength; addr += std::min(kReadBackChunk, *dataLength - addr)) {
        const uint32_t n = std::min(kReadBackChunk, *dataLength - addr);
        if (!file.ReadAt(offset + addr, expected.data(), n)) {
            return FileFailure(outcome, report, reason::kFileChanged,
                               "the file ended before its data at " + HexText(addr));
        }
        if (!loader.SendIn(cmd::ReadBlock(n, addr, loader.protocol()->selector), held.data(), n)) {
            SetDeviceFailure(outcome, device, reason::kReadFailed, addr / blockSize);
            return false;
        }
        const auto diff = std::mismatch(held.begin(), held.begin() + n, expected.begin());
        if (diff.first != held.begin() + n) {
            const uint32_t at = addr + static_cast<uint32_t>(diff.first - held.begin());
            SetFailure(outcome, reason::kVerifyMismatch,
                       "block " + std::to_string(at / blockSize) + " at " + HexText(at) +
                           ": the device holds " + HexText(*diff.first) + ", the image " +
                           HexText(*diff.second));
            return false;
        }
        outcome.bytesWritten += n;
        report.progress(static_cast<int>(static_cast<uint64_t>(addr + n) * 100 / *dataLength));
    }
    return true;
}

JobOutcome RunVerifyJob(const JobEnvironment& env, const DownloadJob& job) {
    const JobReport report(env.notifier, job.deviceName);
    JobOutcome outcome;
    outcome.kind = JobOutcome::Kind::Verify;
    JobFile file(PathFromUtf8(job.filePath));
    if (!file.isOpen()) {
        SetFailure(outcome, reason::kFileUnreadable, file.openError());
        report.log(text::kCannotAccessFile);
        return outcome;
    }
    auto device = std::make_shared<MassDevice>(env.backend, job.devicePath, job.deviceName,
                                               env.vendorPatterns, env.productPatterns);
    CDataLoader loader(device, std::make_shared<CFlashProtocol>());
    report.image(ProgressLoading);
    const uint32_t blockSize = job.eraseUse4K != 0 ? 0x1000 : 0x10000;
    outcome.success = CompareFlash(env, job, blockSize, file, loader, report, outcome);
    report.progress(100);
    report.image(outcome.success ? ProgressSuccess : ProgressFail);
    file.Close();
    device->Close();
    return outcome;
}

}  // namespace

bool StartVerify(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                 const std::string& deviceName, const std::string& filePath, int eraseUse4K) {
    const JobReport report(env.notifier, deviceName);
    CImageChecker checker;
    const int code = checker.Check(PathFromUtf8(filePath));
    if (code != ImageOk) {
        report.log(text::kBadFileFormat);
        if (env.notifier != nullptr) env.notifier->ShowFileParseError(code);
        return false;
    }
    const PresentDevice* device = FindPresentDevice(presentDevices, deviceName);
    if (device == nullptr || env.registry == nullptr) return false;

    DownloadJob job;
    job.filePath = filePath;
    job.deviceName = device->name;
    job.devicePath = device->devicePath;
    job.dataOffset = static_cast<int32_t>(checker.parser()->GetHeaderLength());
    job.blockCrcs = checker.parser()->GetBlockCrcs();
    job.eraseUse4K = eraseUse4K;
    job.slot = device->slot;
    job.portPath = device->location.portPath;
    job.serial = device->location.serial;
    const bool started = StartRegisteredJob(
        env, job.deviceName, [env, job] { return RunVerifyJob(env, job); }, DownloadJobRecord(job, true));
    if (!started) report.log(text::FillText(text::kDeviceBusy, job.deviceName));
    return started;
}

}  // namespace brev
