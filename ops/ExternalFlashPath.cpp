#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "base/Bytes.h"
#include "base/Parse.h"
#include "base/Utf8.h"
#include "base/Utf8Path.h"
#include "ops/Failure.h"
#include "ops/JobFile.h"
#include "ops/JobReport.h"
#include "ops/LoaderPath.h"
#include "ops/Paths.h"
#include "ops/Texts.h"

namespace brev {
namespace {

constexpr uint32_t kSectorSize = 0x1000;
constexpr const char* kPorts[] = {"pa", "pb", "pc", "pd"};

void PutLe32Signed(uint8_t* p, int32_t v) { PutLe32(p, static_cast<uint32_t>(v)); }

}  // namespace

PinSetting ParsePinText(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    const std::size_t split = Utf8SkipChars(lower, 2);
    const std::string port = lower.substr(0, split);
    PinSetting pin;
    for (int32_t i = 0; i < 4; ++i) {
        if (port == kPorts[i]) pin.portIndex = i;
    }
    pin.pinNumber = ParseLeadingInteger<int32_t>(std::string_view(lower).substr(split));
    return pin;
}

SpiPinBlock MakeSpiPinBlock(const PinTexts& pins) {
    SpiPinBlock block{};
    for (std::size_t i = 0; i < pins.size(); ++i) {
        const PinSetting pin = ParsePinText(pins[i]);
        PutLe32Signed(block.data() + i * 8, pin.portIndex);
        PutLe32Signed(block.data() + i * 8 + 4, pin.pinNumber);
    }
    return block;
}

void StartSpiLoader(const JobEnvironment& env, MassDevice& device, const PinTexts& pins) {
    auto program = JobFile::ReadWhole(env.deviceProgramsDir / "spi.bin");
    // The pin block overwrites the first 32 bytes: a shorter file is no loader at all.
    if (!program || program->size() < sizeof(SpiPinBlock)) return;
    if (!device.isOpen()) (void)device.Open();
    const SpiPinBlock block = MakeSpiPinBlock(pins);
    std::copy(block.begin(), block.end(), program->begin());
    const auto length = static_cast<uint32_t>(program->size());
    if (device.TransferOut(cmd::WriteRamBlock(length, cmd::kSpiLoaderLoadAddr).data(), length,
                           program->data())) {
        (void)device.TransferOut(cmd::ExecuteBlock(cmd::kSpiLoaderExecAddr).data(), 0, nullptr);
    }
}

namespace {

bool WriteExternalFlash(const JobEnvironment& env, const DownloadJob& job, JobFile& file,
                        const std::shared_ptr<CDataLoader2>& loader, const JobReport& report,
                        JobOutcome& outcome) {
    MassDevice& device = *loader->device();
    if (device.Open() == 0) {
        SetOpenFailure(outcome, device);
        return false;
    }
    // The loader's own failures stop nothing (the identity read fails next), but they came first.
    JobOutcome first;
    if (!JobFile(env.deviceProgramsDir / "spi.bin").isOpen()) {
        SetFailure(first, reason::kFileUnreadable, "the flash loader spi.bin cannot be read");
    }
    StartSpiLoader(env, device, job.pins);
    if (!device.lastTransfer().ok()) SetDeviceFailure(first, device, reason::kInitFailed);
    auto fail = [&] {
        SetFailure(outcome, first.reason.c_str(), first.detail);
        return false;
    };

    uint8_t raw[4] = {};
    if (!device.TransferIn(cmd::LoaderReadFlashIdBlock().data(), sizeof raw, raw)) {
        SetDeviceFailure(first, device, reason::kFlashIdFailed);
        return fail();
    }
    const uint32_t id = GetLe32(raw) >> 8;
    // No part wired, or floating lines.
    if (id == 0x000000 || id == 0xFFFFFF || id == 0xFFFFFE) {
        SetFailure(first, reason::kNoExternalFlash,
                   "identity " + HexText(id) + ": no flash answers on the pins " + job.pins[0] + ", " +
                       job.pins[1] + ", " + job.pins[2] + ", " + job.pins[3]);
        return fail();
    }
    report.log(text::FillText(text::kExternalFlashId, id));
    outcome.flashId = id;

    // The whole file, header included; more than 4 GiB does not fit the device's addresses.
    if (file.length() == 0 || file.length() > UINT32_MAX) {
        SetFailure(outcome, reason::kFileUnreadable,
                   "the file holds " + std::to_string(file.length()) + " bytes: nothing, or more than 4 GiB");
        report.log(text::kFileReadFailed);
        return false;
    }
    const auto length = static_cast<uint32_t>(file.length());
    const uint32_t k = length / kSectorSize;
    const uint32_t r = length % kSectorSize;
    const double step = k > 0 ? 90.0 / k : 0.0;
    report.log(text::kWritingData);

    std::vector<uint8_t> buffer(kSectorSize);
    auto writeSector = [&](uint32_t addr, uint32_t count) {
        const int64_t sector = addr / kSectorSize;
        // Read before erasing: a file that shrank must not cost the device a sector.
        if (!file.ReadAt(addr, buffer.data(), count)) {
            SetFailure(outcome, reason::kFileUnreadable,
                       "sector " + std::to_string(sector) + ": the file ended before its " +
                           std::to_string(count) + " bytes");
            report.log(text::kFileReadFailed);
            return false;
        }
        if (!device.TransferOut(cmd::LoaderErase4KBlock(addr).data(), 0, nullptr)) {
            SetDeviceFailure(outcome, device, reason::kEraseFailed, sector);
            return false;
        }
        if (!LoaderWriteVerify(loader, addr, buffer.data(), count)) {
            SetDeviceFailure(outcome, device, reason::kWriteFailed, sector);
            return false;
        }
        outcome.bytesWritten += count;
        return true;
    };
    for (uint32_t i = 0; i < k; ++i) {
        if (!writeSector(i * kSectorSize, kSectorSize)) return false;
        report.progress(static_cast<int>(i * step));
    }
    report.progress(90);
    return r == 0 || writeSector(k * kSectorSize, r);
}

}  // namespace

JobOutcome RunExternalFlashPath(const JobEnvironment& env, const DownloadJob& job) {
    return RunLoaderPath(env, job, text::kDownloadDone, WriteExternalFlash);
}

}  // namespace brev
