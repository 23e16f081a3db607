// The paths of a download job and their helpers, one function per path. StartDownloadJob and
// RunDownloadJob (ops/Jobs.h) are the usual entry points; the paths are declared here so the
// command-line tool and the tests can reach them one by one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "device/CommandSet.h"
#include "ops/Jobs.h"

namespace brev {

// One pin of the external flash as the SPI loader expects it.
struct PinSetting {
    int32_t portIndex = 0;  // pa 0, pb 1, pc 2, pd 3; 0 for an unknown port
    int32_t pinNumber = 0;
};

// "PB12" -> {1, 12}; "PX3" -> {0, 3}; "PB" -> {1, 0}. Letters are case-insensitive.
PinSetting ParsePinText(const std::string& text);

// The 32 bytes written over the start of the SPI loader: CS, CLK, MOSI, MISO, each as
// port index then pin number, little-endian signed 32-bit.
using SpiPinBlock = std::array<uint8_t, 32>;
SpiPinBlock MakeSpiPinBlock(const PinTexts& pins);

// The random-data test's generator: x := x * 214013 + 2531011 (mod 2^32), byte := (x >> 16) & 0xFF.
void FillRandomData(uint8_t* data, std::size_t length, uint32_t seed);

// The clock divider a job sends with Init (the stored 0 stands for 9).
uint8_t JobClkDiv(const JobEnvironment& env);

// A download job's whole run, dispatched by its options; the caller reports JobFinished.
JobOutcome ExecuteDownloadJob(const JobEnvironment& env, const DownloadJob& job);

class JobFile;
class JobReport;
// A job failed on its file: the reason kept, "读取文件失败" logged; false.
bool FileFailure(JobOutcome& outcome, const JobReport& report, const char* why, const std::string& detail);
// The length of the data after the job's header when the file is still the one its check saw
// (and fits the device's addresses); otherwise the failure is recorded, "读取文件失败" logged and
// nothing returned.
std::optional<uint32_t> CheckedDataLength(const DownloadJob& job, const JobFile& file,
                                          const JobReport& report, JobOutcome& outcome);

// Loads the SPI loader (env.deviceProgramsDir/spi.bin) with the pin block patched in and starts it.
// Reports nothing: the caller relies on its next command failing when the loader does not run.
void StartSpiLoader(const JobEnvironment& env, MassDevice& device, const PinTexts& pins);

// Paths of a download job. Each opens and closes its own device handle.
JobOutcome RunExternalFlashPath(const JobEnvironment& env, const DownloadJob& job);
JobOutcome RunPcModePath(const JobEnvironment& env, const DownloadJob& job);
JobOutcome RunEraseOnly(const JobEnvironment& env, const std::shared_ptr<CDataLoader>& loader,
                        const std::string& deviceName);
JobOutcome RunRandomDataTest(const JobEnvironment& env, int eraseUse4K,
                             const std::shared_ptr<CDataLoader>& loader, const std::string& deviceName);

// Reads the first MiB of the device into `output` (truncated first), holding the device's lock
// (`lockKey`; empty: devicePath).
JobOutcome RunReadBack(const JobEnvironment& env, const std::string& devicePath,
                       const std::string& deviceName, const std::filesystem::path& output,
                       const std::string& lockKey = {});

constexpr uint32_t kRandomDataSize = 0x80000;
constexpr uint32_t kReadBackChunk = 0x10000;
constexpr uint32_t kReadBackSize = 0x100000;

}  // namespace brev
