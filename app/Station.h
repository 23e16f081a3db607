// The engine under both faces (the window's controller and the command-line tool): the backend
// stack, the program folders, the shared settings, the job registry, the job environment, the
// scan of the devices present and the source of arrivals and removals. A simulated run also
// owns its simulated devices and a private program folder for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgramFolder.h"
#include "app/Records.h"
#include "app/RecordsPush.h"
#include "app/SimFleet.h"
#include "app/Slots.h"
#include "device/CMutilMassStorage.h"
#include "device/CountingBackend.h"
#include "device/DeviceEvents.h"
#include "device/Tracing.h"
#include "ops/JobNotifier.h"
#include "ops/JobRegistry.h"
#include "ops/Jobs.h"
#include "ops/SharedSettings.h"

namespace brev {

struct StationOptions {
    // Where the devices come from: simulated ones when set; else `backend` (with `events` for
    // its arrivals) when given; else the platform's own.
    std::optional<SimFleetOptions> simulation;
    std::shared_ptr<IPassThroughBackend> backend;
    IDeviceEventSource* events = nullptr;  // not owned; outlives the station
    // Default: CurrentProgramFolders(), or a private folder of its own for a simulated run.
    std::optional<ProgramFolders> folders;
    // The fixture's slot labels: this file when set (it must be readable); otherwise slots.ini
    // beside `settingsFile` (default: the folders' settings file) when there is one.
    std::filesystem::path slotsFile;
    std::filesystem::path settingsFile;
    // Every transfer recorded to this file (emptied first) when set.
    std::filesystem::path traceFile;
    // Told of every transfer when set (the tool's -v).
    TransferObserver transferObserver;
    // Job environment pieces; defaults: a millisecond tick and std::this_thread::sleep_for.
    std::function<uint32_t()> tickCount;
    std::function<void(std::chrono::milliseconds)> sleep;
    // Device locks other processes see. Default: the platform's (in the simulated devices'
    // folder, or the private one, for a simulated run); none for a given `backend`.
    std::shared_ptr<IDeviceLocks> deviceLocks;
    // Records of every job: this file when set (it must open); else records.sqlite where the
    // folders keep it (beside `settingsFile` when that is given), except for simulated devices,
    // which are recorded only into a file named here. `noRecords` keeps none.
    std::filesystem::path recordsFile;
    bool noRecords = false;
    // The station's name in its records; default: the settings key "station", else the host name.
    std::string stationName;
    // Every record is also pushed to this PostgreSQL database; default: the settings key recordsUrl.
    std::string recordsUrl;
    // While records wait for the central database, how often they are offered again.
    std::chrono::milliseconds recordsRetry = std::chrono::seconds(30);
};

// Where the records are kept by default: records.sqlite beside `settingsFile` when it is given and
// is not the folders' own, else the folders' records file.
std::filesystem::path RecordsFileFor(const ProgramFolders& folders,
                                     const std::filesystem::path& settingsFile);
// The settings key "station" of `settingsFile`, else the host name.
std::string StationNameFor(const std::filesystem::path& settingsFile);
// The settings key recordsUrl of `settingsFile` (empty when unset).
std::string RecordsUrlFor(const std::filesystem::path& settingsFile);

class Station {
public:
    // Builds the backend stack and starts the simulated devices. Null with a reason when the
    // devices cannot be reached (a bad simulation option, no platform backend, a trace file or
    // a private folder that cannot be written).
    static std::unique_ptr<Station> Open(StationOptions options, std::string& error);
    ~Station();  // Finish(), ignoring what it could not save
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Where permission problems of Scan() and Probe() go (a log line, standard error).
    void SetProblemReporter(std::function<void(const std::string&)> reporter);

    // The matching devices present now, in the backend's order, each with its slot.
    std::vector<PresentDevice> Scan();
    // A newly arrived volume: the device when it is one of ours and can be opened. A volume
    // that cannot be opened for lack of permission is reported, with the platform's hint.
    std::optional<PresentDevice> Probe(const VolumeRef& volume);
    // Arrivals and removals (the platform's monitor is created on first use); null when they
    // cannot be watched here.
    IDeviceEventSource* Events();

    // What a job needs, reporting to `notifier`.
    JobEnvironment Environment(IJobNotifier* notifier);

    // Waits for every job, stops attaching simulated devices, saves their flash files, removes
    // the private folder. False with a reason when something could not be saved. Runs once.
    bool Finish(std::string& error);
    // True when Finish found the trace file could not be written whole.
    bool traceFailed() const { return traceFailed_; }
    // The process is about to end with jobs still running: removes the temporary folder only
    // (simulated flash is not saved, nothing is waited for).
    void Abandon();

    // The top of the stack: tracing (when asked) over counting over the devices.
    const std::shared_ptr<IPassThroughBackend>& backend() const { return backend_; }
    CountingBackend& counting() { return *counting_; }
    const ProgramFolders& folders() const { return folders_; }
    const SlotMap& slotMap() const { return slots_; }
    int pcUpdateSupport() const { return pcUpdateSupport_; }
    const PatternList& vendorPatterns() const { return vendorPatterns_; }
    const PatternList& productPatterns() const { return productPatterns_; }
    SharedSettings& settings() { return settings_; }
    // The station's records; null when none are kept.
    const std::shared_ptr<Records>& records() const { return records_; }
    // The background push to the central database; null when there is none.
    RecordsPusher* pusher() { return pusher_.get(); }
    CJobRegistry& registry() { return registry_; }
    // The simulated devices; null for real ones.
    SimFleet* fleet() { return fleet_.get(); }
    bool simulated() const { return fleet_ != nullptr; }

private:
    Station() = default;
    bool open(StationOptions options, std::string& error);
    bool openRecords(const StationOptions& options, std::string& error);
    void report(const std::string& text);

    std::function<void(const std::string&)> reporter_;
    bool reporterSet_ = false;
    std::vector<std::string> earlyReports_;
    std::unique_ptr<SimFleet> fleet_;
    std::filesystem::path privateFolder_;  // removed by Finish
    ProgramFolders folders_;
    SlotMap slots_;
    int pcUpdateSupport_ = 0;
    PatternList vendorPatterns_ = VendorPatterns();
    PatternList productPatterns_ = DownloadModeProducts();
    IDeviceEventSource* events_ = nullptr;
    std::unique_ptr<IDeviceEventSource> platformEvents_;
    bool eventsChosen_ = false;  // the platform's monitor is made on first use only
    std::shared_ptr<CountingBackend> counting_;
    std::shared_ptr<TraceSink> trace_;
    std::filesystem::path traceFile_;
    bool traceFailed_ = false;
    std::shared_ptr<IPassThroughBackend> backend_;
    std::function<uint32_t()> tickCount_;
    std::function<void(std::chrono::milliseconds)> sleep_;
    std::shared_ptr<IDeviceLocks> deviceLocks_;
    SharedSettings settings_;
    std::shared_ptr<Records> records_;
    std::unique_ptr<RecordsPusher> pusher_;
    bool finished_ = false;
    CJobRegistry registry_;  // last: its threads are joined before anything they use goes
};

}  // namespace brev
