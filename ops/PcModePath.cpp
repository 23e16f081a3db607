#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "base/Utf8Path.h"
#include "image/Crc16.h"
#include "ops/Failure.h"
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
    if (device.Open() == 0) {
        SetOpenFailure(outcome, device);
        return false;
    }
    // Checked before the device starts erasing: a file that is not the checked one costs nothing.
    const std::optional<uint32_t> checkedLength = CheckedDataLength(job, file, report, outcome);
    if (!checkedLength) return false;
    const uint32_t length = *checkedLength;
    const uint64_t offset = static_cast<uint64_t>(job.dataOffset);
    const BlockCrcTable* checked = job.blockCrcs.get();
    if (!device.TransferOut(cmd::PcStartEraseBlock().data(), 0, nullptr)) {
        SetDeviceFailure(outcome, device, reason::kEraseFailed);
        return false;
    }
    report.log(text::kErasing);
    report.progress(10);
    if (!device.TransferOut(cmd::PcStartWriteBlock().data(), 0, nullptr)) {
        SetDeviceFailure(outcome, device, reason::kWriteFailed);
        return false;
    }
    if (env.sleep) {
        env.sleep(kPauseAfterStartWrite);
    } else {
        std::this_thread::sleep_for(kPauseAfterStartWrite);
    }

    const uint32_t k = length / kPageSize;
    const uint32_t r = length % kPageSize;
    const double step = k > 0 ? 80.0 / k : 0.0;
    report.log(text::kWritingData);

    // With a checked image the data is read a granule at a time and compared with the check's
    // CRC before its first page goes out, so every page sent is checked data, never bytes read
    // after the check.
    const uint32_t unit = checked != nullptr ? BlockCrcTable::kGranule : kPageSize;
    std::vector<uint8_t> data(unit);
    uint32_t dataAt = UINT32_MAX;  // address of the granule (or page) in `data`
    auto writePage = [&](uint32_t addr, uint32_t count) {
        const uint32_t at = addr - addr % unit;
        if (at != dataAt) {
            const uint32_t n = std::min<uint32_t>(unit, length - at);
            if (!file.ReadAt(offset + at, data.data(), n)) {
                return FileFailure(
                    outcome, report, checked != nullptr ? reason::kFileChanged : reason::kFileUnreadable,
                    "at " + HexText(at) + ": the file ended before its " + std::to_string(n) + " bytes");
            }
            const auto expected = checked != nullptr ? checked->BlockCrc(at, n) : std::nullopt;
            if (checked != nullptr && (!expected || Crc16Ccitt(data.data(), n) != *expected)) {
                return FileFailure(outcome, report, reason::kFileChanged,
                                   "page " + std::to_string(addr / kPageSize) + " at " + HexText(addr) +
                                       ": the file's data differs from the checked image");
            }
            dataAt = at;
        }
        if (!LoaderWriteVerify(loader, addr, data.data() + (addr - at), count)) {
            SetDeviceFailure(outcome, device, reason::kWriteFailed, addr / kPageSize);
            return false;
        }
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
