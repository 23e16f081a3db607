#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/Bytes.h"
#include "base/Utf8Path.h"
#include "image/Crc16.h"
#include "image/ImageChecker.h"
#include "ops/DeviceLock.h"
#include "ops/Failure.h"
#include "ops/JobFile.h"
#include "ops/JobReport.h"
#include "ops/JobStart.h"
#include "ops/Jobs.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {
namespace {

constexpr uint32_t kLargestSingleBlock = 0x10000;
constexpr uint32_t kResetHeaderSize = 256;

// Loads and starts the reset program. Every outcome is ignored: the download already succeeded.
void RunResetProgram(const JobEnvironment& env, CDataLoader& loader, uint8_t clk) {
    const auto program = JobFile::ReadWhole(env.deviceProgramsDir / "reset.bin");
    // The payload follows a 256-byte header; a file without any payload is not sent at all.
    if (!program || program->size() <= kResetHeaderSize) return;
    (void)loader.Init(clk, 0, 0, 0, 0);
    const auto length = static_cast<uint32_t>(program->size() - kResetHeaderSize);
    if (loader.WriteRam(program->data() + kResetHeaderSize, length)) (void)loader.Execute();
}

// The internal NOR flash path from Init to the optional reset program; true on success.
bool WriteInternalFlash(const JobEnvironment& env, const DownloadJob& job, JobFile& file,
                        const std::shared_ptr<CDataLoader>& loader, const JobReport& report,
                        JobOutcome& outcome) {
    CDataLoader& loaderRef = *loader;
    const uint32_t blockSize = job.eraseUse4K != 0 ? 0x1000 : 0x10000;
    const EraseUnit unit = job.eraseUse4K != 0 ? EraseUnit::Unit4K : EraseUnit::Unit64K;
    const uint8_t clk = JobClkDiv(env);
    const uint8_t selector = loaderRef.protocol()->selector;

    const MassDevice& device = *loaderRef.device();
    if (!loaderRef.Init(clk, 0, 0, 0, 0)) {
        SetDeviceFailure(outcome, device, reason::kInitFailed);
        return false;
    }
    report.progress(5);

    uint8_t id[4] = {};
    if (!loaderRef.SendIn(cmd::ReadFlashIdBlock(selector), id, sizeof id)) {
        SetDeviceFailure(outcome, device, reason::kFlashIdFailed);
        report.log(text::kReadFlashIdFailed);
        return false;
    }
    outcome.flashId = GetLe32(id);
    report.log(text::FillText(text::kFlashId, *outcome.flashId));
    report.progress(10);

    const std::optional<uint32_t> checkedLength = CheckedDataLength(job, file, report, outcome);
    if (!checkedLength) return false;
    const uint32_t dataLength = *checkedLength;
    const uint64_t offset = static_cast<uint64_t>(job.dataOffset);
    const BlockCrcTable* checked = job.blockCrcs.get();
    std::vector<uint8_t> buffer(kLargestSingleBlock);
    const bool skipUnchanged = env.settings != nullptr && env.settings->skipUnchanged.load() != 0;
    std::vector<uint8_t> deviceData(skipUnchanged ? kLargestSingleBlock : 0);
    uint32_t blocksUnchanged = 0;
    // Whether the device already holds the block's bytes: its CRC first (one small command), and
    // when that matches the bytes themselves, since a CRC-16 match is no proof. Nothing when asking
    // failed.
    auto deviceHolds = [&](uint32_t addr, uint32_t length, uint16_t crc) -> std::optional<bool> {
        uint8_t answer[2] = {0, 0};
        if (!loaderRef.GetCrc16(answer, addr, length)) return std::nullopt;
        if (GetLe16(answer) != crc) return false;
        for (uint32_t done = 0; done < length; done += kReadBackChunk) {
            const uint32_t n = std::min(kReadBackChunk, length - done);
            if (!loaderRef.SendIn(cmd::ReadBlock(n, addr + done, selector), deviceData.data() + done, n)) {
                return std::nullopt;
            }
        }
        return std::memcmp(deviceData.data(), buffer.data(), length) == 0;
    };
    auto writeBlock = [&](uint32_t addr, uint32_t length) {
        const int64_t block = addr / blockSize;
        if (!file.ReadAt(offset + addr, buffer.data(), length)) {
            return FileFailure(outcome, report,
                               checked != nullptr ? reason::kFileChanged : reason::kFileUnreadable,
                               "block " + std::to_string(block) + ": the file ended before its " +
                                   std::to_string(length) + " bytes");
        }
        // Compared before the erase: a block whose data is not what was checked keeps its old contents.
        const auto expected = checked != nullptr ? checked->BlockCrc(addr, length) : std::nullopt;
        if (expected && Crc16Ccitt(buffer.data(), length) != *expected) {
            return FileFailure(outcome, report, reason::kFileChanged,
                               "block " + std::to_string(block) + " at " + HexText(addr) +
                                   ": the file's data differs from the checked image");
        }
        if (skipUnchanged) {
            const std::optional<bool> held =
                deviceHolds(addr, length, expected ? *expected : Crc16Ccitt(buffer.data(), length));
            if (!held) {
                SetDeviceFailure(outcome, device, reason::kReadFailed, block);
                return false;
            }
            if (*held) {
                ++blocksUnchanged;
                outcome.bytesSkipped += length;
                return true;
            }
        }
        if (!EraseWriteVerify(loader, addr, buffer.data(), length, unit, expected)) {
            SetDeviceFailure(outcome, device, reason::kWriteFailed, block);
            return false;
        }
        outcome.bytesWritten += length;
        return true;
    };

    // Blocks are compared whole and erased whole, so a block's erase must not reach into another
    // block that may be left as it is. Each block is one erase unit, bar the tail, whose unit
    // lies past every other block; only the single block of a small image can span several
    // 4 KiB units, and when blocks may be skipped it is split into its units instead.
    if (dataLength <= (skipUnchanged ? blockSize : kLargestSingleBlock)) {
        if (!writeBlock(0, dataLength)) return false;
    } else {
        const uint32_t k = dataLength / blockSize;
        const uint32_t r = dataLength % blockSize;
        const double step = 80.0 / k;
        report.progress(10);
        report.log(text::kWritingData);
        for (uint32_t i = 1; i < k; ++i) {
            if (!writeBlock(i * blockSize, blockSize)) return false;
            report.progress(10 + static_cast<int>(i * step));
        }
        report.progress(90);
        if (r > 0 && !writeBlock(k * blockSize, r)) return false;
        // Block 0 holds the start of the image: written last, once everything else verified.
        if (!writeBlock(0, blockSize)) return false;
        report.log(text::kVerifyingData);
    }
    if (skipUnchanged) report.log(text::FillText(text::kBlocksUnchanged, blocksUnchanged));

    if (env.settings != nullptr && env.settings->resetAfterDownloadFlag.load() != 0) {
        RunResetProgram(env, loaderRef, clk);
    }
    return true;
}

JobOutcome RunInternalFlashPath(const JobEnvironment& env, const DownloadJob& job, JobFile& file,
                                const std::shared_ptr<CDataLoader>& loader, const JobReport& report) {
    JobOutcome outcome;
    outcome.kind = JobOutcome::Kind::Download;
    outcome.success = WriteInternalFlash(env, job, file, loader, report, outcome);

    report.progress(100);
    if (outcome.success) {
        report.log(text::kDownloadDoneReattach);
        report.log(text::kSpacer);
        report.image(ProgressSuccess);
        (void)loader->Send(cmd::SystemResetBlock(loader->protocol()->selector));
    } else {
        report.progress(100);
        report.log(text::kDownloadFailed);
        report.image(ProgressFail);
    }
    file.Close();
    loader->device()->Close();
    report.row(1);
    return outcome;
}

}  // namespace

bool FileFailure(JobOutcome& outcome, const JobReport& report, const char* why, const std::string& detail) {
    SetFailure(outcome, why, detail);
    report.log(text::kFileReadFailed);
    return false;
}

std::optional<uint32_t> CheckedDataLength(const DownloadJob& job, const JobFile& file,
                                          const JobReport& report, JobOutcome& outcome) {
    auto fileFailure = [&](const char* why, const std::string& detail) -> std::optional<uint32_t> {
        FileFailure(outcome, report, why, detail);
        return std::nullopt;
    };
    // A file whose length changed since its check is not the file that was checked.
    const uint64_t offset = static_cast<uint64_t>(job.dataOffset);
    const BlockCrcTable* checked = job.blockCrcs.get();
    if (checked != nullptr &&
        (job.dataOffset < 0 || file.length() < offset || file.length() - offset != checked->dataLength())) {
        return fileFailure(reason::kFileChanged, "the file holds " + std::to_string(file.length()) +
                                                     " bytes, not the checked header and " +
                                                     std::to_string(checked->dataLength()) + " data bytes");
    }
    // A file that ends at or before its data offset has nothing sound to write; more than 4 GiB
    // does not fit the device's addresses.
    if (job.dataOffset < 0 || file.length() <= offset || file.length() - offset > UINT32_MAX) {
        return fileFailure(reason::kFileUnreadable,
                           "the file holds " + std::to_string(file.length()) + " bytes: no data after its " +
                               std::to_string(offset) + "-byte header, or more than 4 GiB");
    }
    return static_cast<uint32_t>(file.length() - offset);
}

uint8_t JobClkDiv(const JobEnvironment& env) {
    return cmd::EffectiveClkDiv(env.settings != nullptr ? env.settings->busClkDiv.load() : 0);
}

JobOutcome ExecuteDownloadJob(const JobEnvironment& env, const DownloadJob& job) {
    const JobReport report(env.notifier, job.deviceName);
    // Held to the job's end: no other process drives the device meanwhile.
    std::unique_ptr<IDeviceLock> lock;
    if (JobOutcome busy;
        !TakeDeviceLock(env, job.lockKey.empty() ? job.devicePath : job.lockKey, report, busy, lock)) {
        busy.kind = job.eraseOnly != 0     ? JobOutcome::Kind::EraseOnly
                    : job.writeRandom != 0 ? JobOutcome::Kind::RandomTest
                                           : JobOutcome::Kind::Download;
        return busy;
    }
    auto device = std::make_shared<MassDevice>(env.backend, job.devicePath, job.deviceName,
                                               env.vendorPatterns, env.productPatterns);
    auto protocol = std::make_shared<CFlashProtocol>();
    auto loader = std::make_shared<CDataLoader>(device, protocol);

    if (job.eraseOnly != 0) return RunEraseOnly(env, loader, job.deviceName);
    if (job.writeRandom != 0) return RunRandomDataTest(env, job.eraseUse4K, loader, job.deviceName);

    // Held open until the job ends, whichever path writes it.
    JobFile file(PathFromUtf8(job.filePath));
    if (!file.isOpen()) {
        JobOutcome outcome;
        SetFailure(outcome, reason::kFileUnreadable, file.openError());
        report.log(text::kCannotAccessFile);
        report.box(text::kCannotAccessFile);
        return outcome;
    }
    report.row(0);
    report.image(ProgressLoading);

    if (job.pcModeDevice) return RunPcModePath(env, job);
    if (job.exFlash != 0) return RunExternalFlashPath(env, job);
    return RunInternalFlashPath(env, job, file, loader, report);
}

namespace {

bool StartJobThread(const JobEnvironment& env, const DownloadJob& job) {
    return StartRegisteredJob(
        env, job.deviceName, [env, job] { return ExecuteDownloadJob(env, job); }, DownloadJobRecord(job));
}

}  // namespace

void RunDownloadJob(const JobEnvironment& env, const DownloadJob& job) {
    const JobOutcome outcome =
        RunRecordedJob(env, DownloadJobRecord(job), [&env, &job] { return ExecuteDownloadJob(env, job); });
    if (env.notifier != nullptr) env.notifier->JobFinished(job.deviceName, outcome);
}

bool StartDownloadJob(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                      const StartRequest& request) {
    const JobReport report(env.notifier, request.deviceName);
    DownloadJob job;
    job.filePath = !request.filePath.empty() ? request.filePath
                   : env.settings != nullptr ? env.settings->downloadFilePath()
                                             : std::string();
    job.dataOffset = 0;

    if (request.eraseOnly == 0 && request.exFlash == 0) {
        if (job.filePath.empty()) {
            report.log(text::kChooseAccessibleFile);
            report.box(text::kChooseFileBox);
            return false;
        }
        CImageChecker checker;
        const int code = checker.Check(PathFromUtf8(job.filePath));
        if (code != ImageOk) {
            report.log(text::kBadFileFormat);
            if (env.notifier != nullptr) env.notifier->ShowFileParseError(code);
            return false;
        }
        job.dataOffset = static_cast<int32_t>(checker.parser()->GetHeaderLength());
        job.blockCrcs = checker.parser()->GetBlockCrcs();
    }

    const PresentDevice* device = FindPresentDevice(presentDevices, request.deviceName);
    if (device == nullptr || env.registry == nullptr) return false;

    job.deviceName = device->name;
    job.devicePath = device->devicePath;
    job.lockKey = DeviceLockKey(*device);
    job.eraseOnly = request.eraseOnly;
    job.eraseUse4K = request.eraseUse4K;
    job.writeRandom = request.writeRandom;
    job.exFlash = request.exFlash;
    job.pcModeDevice = IsPcModeProduct(device->productId);
    job.pins = request.pins;
    job.slot = device->slot;
    job.portPath = device->location.portPath;
    job.serial = device->location.serial;

    const bool started = StartJobThread(env, job);
    if (!started) report.log(text::FillText(text::kDeviceBusy, job.deviceName));
    return started;
}

bool StartRandomTest(const JobEnvironment& env, const PresentDevice& device, int eraseUse4K) {
    DownloadJob job;
    job.deviceName = device.name;
    job.devicePath = device.devicePath;
    job.lockKey = DeviceLockKey(device);
    job.writeRandom = 1;
    job.eraseUse4K = eraseUse4K;
    job.slot = device.slot;
    job.portPath = device.location.portPath;
    job.serial = device.location.serial;
    return StartJobThread(env, job);
}

}  // namespace brev
