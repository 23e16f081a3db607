#include <memory>
#include <vector>

#include "base/Bytes.h"
#include "image/Crc16.h"
#include "ops/Failure.h"
#include "ops/JobReport.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {

void FillRandomData(uint8_t* data, std::size_t length, uint32_t seed) {
    uint32_t x = seed;
    for (std::size_t i = 0; i < length; ++i) {
        x = x * 214013u + 2531011u;
        data[i] = static_cast<uint8_t>((x >> 16) & 0x7FFF & 0xFF);
    }
}

JobOutcome RunEraseOnly(const JobEnvironment& env, const std::shared_ptr<CDataLoader>& loader,
                        const std::string& deviceName) {
    const JobReport report(env.notifier, deviceName);
    JobOutcome outcome;
    outcome.kind = JobOutcome::Kind::EraseOnly;
    MassDevice& device = *loader->device();

    if (device.Open() == 0 || !loader->Init(JobClkDiv(env), 0, 0, 0, 0)) {
        SetDeviceFailure(outcome, device, reason::kInitFailed);
        report.log(text::kDeviceInitFailed);
    } else {
        report.image(ProgressLoading);
        report.progress(50);
        outcome.success = loader->Send(cmd::EraseChipBlock(loader->protocol()->selector));
        if (!outcome.success) SetDeviceFailure(outcome, device, reason::kEraseFailed);
    }
    report.progress(100);
    if (outcome.success) {
        report.log(text::kNorErased);
        report.image(ProgressSuccess);
    } else {
        report.image(ProgressFail);
        report.log(text::kNorEraseFailed);
    }
    device.Close();
    return outcome;
}

namespace {

bool WriteAndCheckRandomData(const JobEnvironment& env, int eraseUse4K,
                             const std::shared_ptr<CDataLoader>& loader, const JobReport& report,
                             JobOutcome& outcome) {
    const uint32_t blockSize = eraseUse4K != 0 ? 0x1000 : 0x10000;
    const EraseUnit unit = eraseUse4K != 0 ? EraseUnit::Unit4K : EraseUnit::Unit64K;
    const uint32_t n = kRandomDataSize / blockSize;
    const double step = 90.0 / n;

    std::vector<uint8_t> data(kRandomDataSize);
    FillRandomData(data.data(), data.size(), env.tickCount ? env.tickCount() : 0);

    const MassDevice& device = *loader->device();
    for (uint32_t i = 0; i < n; ++i) {
        if (!EraseWriteVerify(loader, i * blockSize, data.data() + i * blockSize, blockSize, unit)) {
            SetDeviceFailure(outcome, device, reason::kWriteFailed, i);
            return false;
        }
        outcome.bytesWritten += blockSize;
        report.progress(static_cast<int>(i * step));
    }
    // A second look at every block once all are written: a later block must not have disturbed an earlier
    // one.
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t crc[2] = {};
        if (!loader->GetCrc16(crc, i * blockSize, blockSize)) {
            SetDeviceFailure(outcome, device, reason::kReadFailed, i);
            return false;
        }
        if (GetLe16(crc) != Crc16Ccitt(data.data() + i * blockSize, blockSize)) {
            SetFailure(outcome, reason::kVerifyMismatch,
                       "block " + std::to_string(i) + " at " + HexText(i * blockSize) +
                           ": changed after the other blocks were written");
            return false;
        }
    }
    return true;
}

}  // namespace

JobOutcome RunRandomDataTest(const JobEnvironment& env, int eraseUse4K,
                             const std::shared_ptr<CDataLoader>& loader, const std::string& deviceName) {
    const JobReport report(env.notifier, deviceName);
    JobOutcome outcome;
    outcome.kind = JobOutcome::Kind::RandomTest;
    MassDevice& device = *loader->device();

    if (device.Open() == 0 || !loader->Init(JobClkDiv(env), 0, 0, 0, 0)) {
        SetDeviceFailure(outcome, device, reason::kInitFailed);
        report.log(text::kDeviceInitFailed);
    } else {
        outcome.success = WriteAndCheckRandomData(env, eraseUse4K, loader, report, outcome);
    }
    // The bar is full only for a test that passed; a failure keeps it where it stopped.
    if (outcome.success) {
        report.progress(100);
        report.image(ProgressSuccess);
        report.log(text::kRandomTestPassed);
    } else {
        report.image(ProgressFail);
        report.log(text::kRandomTestFailed);
    }
    device.Close();
    return outcome;
}

}  // namespace brev
