#include <memory>
#include <system_error>
#include <vector>

#include "base/AtomicFile.h"
#include "base/Utf8Path.h"
#include "ops/DeviceLock.h"
#include "ops/Failure.h"
#include "ops/JobReport.h"
#include "ops/JobStart.h"
#include "ops/Jobs.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {
namespace {

std::string OutputError(const char* what, const std::filesystem::path& path, const std::error_code& error) {
    std::string text = std::string(what) + " " + PathToUtf8(path);
    if (error) text += ": " + error.message();
    return text;
}

}  // namespace

JobOutcome RunReadBack(const JobEnvironment& env, const std::string& devicePath,
                       const std::string& deviceName, const std::filesystem::path& output,
                       const std::string& lockKey) {
    const JobReport report(env.notifier, deviceName, /*quietWhenUnnamed=*/true);
    JobOutcome outcome;
    outcome.kind = JobOutcome::Kind::ReadBack;
    std::unique_ptr<IDeviceLock> lock;
    if (!TakeDeviceLock(env, lockKey.empty() ? devicePath : lockKey, report, outcome, lock)) return outcome;

    auto device = std::make_shared<MassDevice>(env.backend, devicePath, deviceName, env.vendorPatterns,
                                               env.productPatterns);
    auto protocol = std::make_shared<CFlashProtocol>();
    auto loader = std::make_shared<CDataLoader>(device, protocol);

    const cmd::BusParams bus = env.settings != nullptr ? env.settings->bus() : cmd::BusParams{};
    // A device that does not open gets no Init; its first Read then fails. Neither stops the job
    // by itself, but when a read fails later they came first and say why.
    JobOutcome first;
    if (device->Open() != 0) {
        if (!loader->Init(cmd::EffectiveClkDiv(bus.clkDiv), bus.lineMode, bus.chipSelIndirect,
                          bus.chipSelDirect, bus.chipType)) {
            SetDeviceFailure(first, *device, reason::kInitFailed);
        }
    } else {
        SetOpenFailure(first, *device);
    }

    // Written whole or not at all: a failed read leaves an older file as it was.
    AtomicFile out(output);
    if (const std::error_code ec = out.Open()) {
        SetFailure(outcome, reason::kOutputUnwritable, OutputError("cannot create", output, ec));
        device->Close();
        return outcome;
    }
    report.image(ProgressLoading);

    std::vector<uint8_t> chunk(kReadBackChunk);
    bool ok = true;
    for (uint32_t i = 0; i < kReadBackSize / kReadBackChunk; ++i) {
        const uint32_t addr = i * kReadBackChunk;
        if (!loader->SendIn(cmd::ReadBlock(kReadBackChunk, addr, protocol->selector), chunk.data(),
                            kReadBackChunk)) {
            SetDeviceFailure(first, *device, reason::kReadFailed);
            SetFailure(outcome, first.reason.c_str(), first.detail);
            ok = false;
            break;
        }
        if (const std::error_code ec = out.Write(chunk.data(), kReadBackChunk)) {
            SetFailure(outcome, reason::kOutputUnwritable, OutputError("cannot write", output, ec));
            ok = false;
            break;
        }
        outcome.bytesWritten += kReadBackChunk;
        report.progress(static_cast<int>((i + 1) * 100 / (kReadBackSize / kReadBackChunk)));
    }
    if (ok) {
        if (const std::error_code ec = out.Commit()) {
            SetFailure(outcome, reason::kOutputUnwritable, OutputError("cannot write", output, ec));
            ok = false;
        }
    } else {
        out.Discard();
    }
    outcome.success = ok;
    report.progress(100);
    report.image(outcome.success ? ProgressSuccess : ProgressFail);
    device->Close();
    return outcome;
}

bool StartReadBack(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                   const std::string& deviceName, const std::filesystem::path& output) {
    const PresentDevice* device = FindPresentDevice(presentDevices, deviceName);
    if (device == nullptr || env.registry == nullptr) return false;

    const JobReport report(env.notifier, deviceName);
    const std::filesystem::path path = output.empty() ? env.programFolder / "read.bin" : output;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    const std::string fileKey = PathToUtf8((ec ? path : absolute).lexically_normal());

    if (env.registry->IsBusy(deviceName)) {
        report.log(text::FillText(text::kDeviceBusy, deviceName));
        return false;
    }
    if (!env.registry->TryClaimFile(fileKey)) {
        report.log(text::FillText(text::kReadFileBusy, PathToUtf8(path)));
        return false;
    }
    CJobRegistry* registry = env.registry;
    JobRecordStart record;
    record.operation = "read";
    record.deviceName = deviceName;
    record.slot = device->slot;
    record.portPath = device->location.portPath;
    record.serial = device->location.serial;
    record.imagePath = PathToUtf8(path);  // the file written
    const bool started = StartRegisteredJob(
        env, deviceName,
        [env, devicePath = device->devicePath, deviceName, path, fileKey, registry,
         lockKey = DeviceLockKey(*device)] {
            const JobOutcome outcome = RunReadBack(env, devicePath, deviceName, path, lockKey);
            registry->ReleaseFile(fileKey);
            return outcome;
        },
        std::move(record));
    if (!started) {
        registry->ReleaseFile(fileKey);
        report.log(text::FillText(text::kDeviceBusy, deviceName));
    }
    return started;
}

}  // namespace brev
