// The flash operations: starting and running download jobs and their paths, read-back,
// over the device layer. Jobs report only through IJobNotifier.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/CMutilMassStorage.h"
#include "device/CommandSet.h"
#include "image/BlockCrcTable.h"
#include "ops/DeviceLock.h"
#include "ops/JobNotifier.h"
#include "ops/JobRecord.h"
#include "ops/JobRegistry.h"
#include "ops/SharedSettings.h"

namespace brev {

// Pin texts of the external flash, in the order CS, CLK, MOSI, MISO.
using PinTexts = std::array<std::string, 4>;
inline PinTexts DefaultPinTexts() { return {"PB5", "PB6", "PB7", "PB8"}; }

// Everything a job needs from its surroundings. Outlives every job it starts.
struct JobEnvironment {
    std::shared_ptr<IPassThroughBackend> backend;
    IJobNotifier* notifier = nullptr;
    SharedSettings* settings = nullptr;
    CJobRegistry* registry = nullptr;
    std::filesystem::path programFolder;                   // read.bin is written here
    std::filesystem::path deviceProgramsDir;               // spi.bin and reset.bin (brevload_files)
    std::function<uint32_t()> tickCount;                   // seed of the random-data test (millisecond tick)
    std::function<void(std::chrono::milliseconds)> sleep;  // the pause of the PC-mode path
    // Patterns a job's own device handle must match when it opens (the controller's lists).
    PatternList vendorPatterns = VendorPatterns();
    PatternList productPatterns = ProductPatterns(true);
    // Locks shared with other processes; null: only this process's registry keeps jobs apart.
    std::shared_ptr<IDeviceLocks> deviceLocks;
    // Keeps a record of every job; null: nothing is kept.
    std::shared_ptr<IJobRecorder> recorder;
};

// Arguments of StartDownload, plus the pin texts copied on the UI thread.
struct StartRequest {
    std::string deviceName;
    int eraseOnly = 0;
    int eraseUse4K = 0;
    int writeRandom = 0;
    int exFlash = 0;
    PinTexts pins = DefaultPinTexts();
    // The file to download; empty: the shared downloadFilePath (console mode names its own).
    std::string filePath;
};

// Copied by value into the job's thread.
struct DownloadJob {
    std::string filePath;
    std::string deviceName;
    std::string devicePath;
    std::string lockKey;  // DeviceLockKey of the device; empty: devicePath
    int32_t dataOffset = 0;
    int32_t eraseOnly = 0, eraseUse4K = 0, writeRandom = 0, exFlash = 0;
    bool pcModeDevice = false;  // the job's own device runs its PC-mode firmware
    PinTexts pins = DefaultPinTexts();
    // The image check's CRCs of the data; empty: blocks are verified against the data read.
    std::shared_ptr<const BlockCrcTable> blockCrcs;
    // Where the device sits, for the records.
    std::string slot, portPath, serial;
};

// UI thread: checks the request and the file, finds the device, starts the job on a
// registry thread. Returns true when a job was started.
bool StartDownloadJob(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                      const StartRequest& request);
// UI thread: starts the random-data test on `device`; it needs no image, so nothing is checked first.
bool StartRandomTest(const JobEnvironment& env, const PresentDevice& device, int eraseUse4K);
// A download job on the caller's own thread: dispatches to its path, then reports JobFinished.
void RunDownloadJob(const JobEnvironment& env, const DownloadJob& job);

// UI thread: starts a read-back of the first MiB into programFolder/read.bin (or `output`).
// Refused (with a log line) while the device runs another job or another read-back writes
// the same file.
bool StartReadBack(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                   const std::string& deviceName, const std::filesystem::path& output = {});

// UI thread: checks the update image, then starts a job that reads back the flash range its data
// occupies and compares every byte, writing nothing. A difference fails the job with
// verify-mismatch, naming the first differing address and its block (4 KiB blocks with
// eraseUse4K, else 64 KiB).
bool StartVerify(const JobEnvironment& env, const std::vector<PresentDevice>& presentDevices,
                 const std::string& deviceName, const std::string& filePath, int eraseUse4K = 0);

}  // namespace brev
