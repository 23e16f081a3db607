// Everything a device command works with: the backend (real or simulated, traced, counted),
// the settings, the job environment and registry, and the devices present.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/CountingBackend.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/SimSetup.h"
#include "device/CMutilMassStorage.h"
#include "device/DeviceEvents.h"
#include "device/Tracing.h"
#include "ops/JobRegistry.h"
#include "ops/Jobs.h"
#include "ops/SharedSettings.h"

namespace brev::cli {

class Session {
public:
    Session(const CommonOptions& options, COutput& output);
    ~Session();  // waits for running jobs
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the settings, builds the backend and starts the simulated devices. False with a
    // reason (bad usage: a bad option value, a settings file or trace file that cannot be used).
    bool Open(std::string& error);

    // The matching devices present now, in the backend's order. Devices that could not be
    // opened for lack of permission are reported with the hint.
    std::vector<PresentDevice> Scan();
    // The devices named with --device (all when none was named). Named devices that are not
    // present get a failed row.
    std::vector<PresentDevice> Select(const std::vector<PresentDevice>& present);
    bool Wanted(const std::string& name) const;

    // Checks a newly arrived volume; true (with `out` filled) when it is one of ours.
    bool Probe(const VolumeRef& volume, PresentDevice& out);
    // Arrivals and removals (created on first use); null when they cannot be watched.
    IDeviceEventSource* Events();

    // Waits for every job, saves simulated flash, removes temporary files. False with a reason
    // when something could not be saved.
    bool Finish(std::string& error);

    const JobEnvironment& env() const { return env_; }
    CJobRegistry& registry() { return registry_; }
    SharedSettings& settings() { return settings_; }
    const PinTexts& pins() const { return pins_; }
    int exFlash() const { return exFlash_; }
    int eraseUse4K() const { return options_.erase4k ? 1 : 0; }
    bool simulated() const { return options_.simulated(); }
    std::shared_ptr<IPassThroughBackend> backend() const { return backend_; }
    const PatternList& vendorPatterns() const { return vendorPatterns_; }
    const PatternList& productPatterns() const { return productPatterns_; }
    // Pause between an arrival and its first command: real devices need a moment.
    int arrivalDelayMs() const { return simulated() ? 0 : 1000; }

private:
    bool loadSettings(std::string& error);

    const CommonOptions& options_;
    COutput& output_;
    SharedSettings settings_;
    PinTexts pins_ = DefaultPinTexts();
    int exFlash_ = 0;
    PatternList vendorPatterns_ = VendorPatterns();
    PatternList productPatterns_ = DownloadModeProducts();
    std::unique_ptr<SimSetup> sim_;
    std::unique_ptr<IDeviceEventSource> hotplug_;
    std::shared_ptr<CountingBackend> counting_;
    std::shared_ptr<TraceSink> trace_;
    std::shared_ptr<IPassThroughBackend> backend_;
    std::filesystem::path tempDir_;
    JobEnvironment env_;
    bool finished_ = false;
    CJobRegistry registry_;  // last: its threads are joined before anything they use goes
};

}  // namespace brev::cli
