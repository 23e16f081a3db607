// The command-line face of the Station: the options that only the tool has (--device selection,
// --pins and bus overrides, --ex-flash, the settings file it reads) and its output. Devices,
// settings, jobs and the scan are the Station's, shared with the window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Station.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "device/CMutilMassStorage.h"
#include "device/DeviceEvents.h"
#include "ops/JobRegistry.h"
#include "ops/Jobs.h"
#include "ops/SharedSettings.h"

namespace brev::cli {

// The simulated devices the options ask for (the window builds its own from its switches).
SimFleetOptions SimFleetFor(const CommonOptions& options);

class StopSignals;

class Session {
public:
    Session(const CommonOptions& options, COutput& output);
    ~Session();  // waits for running jobs
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the station and loads the settings. False with a reason (bad usage: a bad option
    // value, a settings file or trace file that cannot be used).
    bool Open(std::string& error);

    // The matching devices present now, in the backend's order. Devices that could not be
    // opened for lack of permission are reported with the hint.
    std::vector<PresentDevice> Scan() { return station_->Scan(); }
    // The devices chosen with --device (all when none was named), in `present`'s order. False
    // when a --device matches no present device: it is reported by what was asked for and gets
    // a failed row.
    bool Select(const std::vector<PresentDevice>& present, std::vector<PresentDevice>& chosen);
    // True when --device names `device`, or names nothing.
    bool Wanted(const PresentDevice& device) const;
    // True when --device was given.
    bool Named() const { return !options_.devices.empty(); }

    // Checks a newly arrived volume; true (with `out` filled) when it is one of ours.
    bool Probe(const VolumeRef& volume, PresentDevice& out);
    // Arrivals and removals (created on first use); null when they cannot be watched.
    IDeviceEventSource* Events() { return station_->Events(); }

    // Waits for every job, saves simulated flash, removes temporary files. False with a reason
    // when something could not be saved.
    bool Finish(std::string& error);
    // The process ends now with jobs running: removes temporary files only.
    void Abandon();
    // Prints the settings file and the flash options this run works with, each with where it
    // came from, so nothing the window saved is taken silently.
    void ShowOptionsInEffect();

    // The stop signals, caught from the session's start so that its temporary folder is always
    // removed; the job runner acts on them.
    StopSignals* signals() const { return signals_.get(); }
    const JobEnvironment& env() const { return env_; }
    CJobRegistry& registry() { return station_->registry(); }
    SharedSettings& settings() { return station_->settings(); }
    const PinTexts& pins() const { return pins_; }
    int exFlash() const { return exFlash_; }
    bool traceFailed() const { return station_ && station_->traceFailed(); }
    int eraseUse4K() const { return options_.erase4k ? 1 : 0; }
    bool simulated() const { return options_.simulated(); }
    std::shared_ptr<IPassThroughBackend> backend() const { return station_->backend(); }
    const PatternList& vendorPatterns() const { return station_->vendorPatterns(); }
    const PatternList& productPatterns() const { return station_->productPatterns(); }
    // Pause between an arrival and its first command: real devices need a moment.
    int arrivalDelayMs() const { return simulated() ? 0 : 1000; }

private:
    // --config, else the program folder's settings file.
    std::filesystem::path SettingsFilePath() const;
    bool loadSettings(std::string& error);

    const CommonOptions& options_;
    COutput& output_;
    PinTexts pins_ = DefaultPinTexts();
    int exFlash_ = 0;
    bool settingsFileFound_ = false;
    std::unique_ptr<StopSignals> signals_;
    std::unique_ptr<Station> station_;
    JobEnvironment env_;
};

}  // namespace brev::cli
