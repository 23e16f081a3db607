#include "app/Station.h"

#include <fstream>
#include <random>
#include <system_error>
#include <thread>

#include "app/DeviceLocks.h"
#include "app/PlatformBackend.h"
#include "app/ProgramFolder.h"
#include "app/settings/SettingsFile.h"
#include "app/settings/SettingsStore.h"
#include "base/Utf8Path.h"
#include "device/MassDevice.h"
#include "device/sim/SimDevice.h"
#include "image/ImageChecker.h"

#ifndef BREVLOAD_VERSION
#define BREVLOAD_VERSION "0"
#endif

namespace brev {
namespace {

uint32_t MillisecondTick() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

// A self-contained program folder for simulated devices: the simulator's stand-in device programs
// (real ones never go near a simulated chip), a mode file that allows PC mode when PC-mode devices
// are simulated, and settings that name a sample image.
bool PrepareSimulatedFolder(const std::filesystem::path& root, bool pcMode, ProgramFolders& folders) {
    folders = FoldersUnder(root);
    if (!sim::WriteStandInPrograms(folders.deviceProgramsDir)) return false;
    if (pcMode && !(std::ofstream(folders.modeFile) << "[MODE]\npc_update_support=1\n")) return false;
    std::vector<uint8_t> data(512 * 1024);
    std::mt19937 random(1234);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    const auto image = root / "sample.up";
    if (!WriteUpdateImage(image, data)) return false;
    return static_cast<bool>(std::ofstream(folders.settingsFile)
                             << "[setting]\ndownloadFile=" << PathToUtf8(image) << "\n");
}

}  // namespace

std::unique_ptr<Station> Station::Open(StationOptions options, std::string& error) {
    std::unique_ptr<Station> station(new Station());
    if (!station->open(std::move(options), error)) return nullptr;
    return station;
}

bool Station::open(StationOptions options, std::string& error) {
    tickCount_ = options.tickCount ? std::move(options.tickCount) : MillisecondTick;
    sleep_ = options.sleep ? std::move(options.sleep)
                           : [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };

    std::shared_ptr<IPassThroughBackend> devices;
    bool platformDevices = false;  // options.backend is moved from below: remember where devices came from
    if (options.simulation) {
        if (options.folders) {
            folders_ = *options.folders;
        } else {
            privateFolder_ = MakeTemporaryFolder("brevload-sim-", error);
            if (privateFolder_.empty()) return false;
            if (!PrepareSimulatedFolder(privateFolder_, options.simulation->pcDevices > 0, folders_)) {
                error = "cannot prepare the simulated devices' folder " + PathToUtf8(privateFolder_);
                return false;
            }
        }
        // A reset chip starts its firmware, which the station serves in PC mode when the mode file says so.
        options.simulation->resetIntoPcMode = ReadPcUpdateSupport(folders_.modeFile) != 0;
        fleet_ = std::make_unique<SimFleet>();
        if (!fleet_->Build(*options.simulation, error)) return false;
        devices = std::make_shared<sim::SimBackend>(fleet_->bus());
        events_ = fleet_->bus().get();
        eventsChosen_ = true;
    } else if (options.backend) {
        devices = std::move(options.backend);
        events_ = options.events;
        eventsChosen_ = true;
        folders_ = options.folders ? *options.folders : CurrentProgramFolders();
    } else {
        platformDevices = true;
        devices = MakePlatformBackend();
        if (!devices) {
            error = "this platform has no device backend; use --simulate N";
            return false;
        }
        folders_ = options.folders ? *options.folders : CurrentProgramFolders();
    }
    deviceLocks_ = std::move(options.deviceLocks);
    if (!deviceLocks_ && options.simulation) {
        // Two runs on the same simulated devices' folder see each other; private folders never meet.
        const std::filesystem::path& shared = options.simulation->flashDir;
        deviceLocks_ = MakePlatformDeviceLocks((!shared.empty()           ? shared
                                                : !privateFolder_.empty() ? privateFolder_
                                                                          : folders_.programFolder) /
                                               "locks");
    } else if (!deviceLocks_ && platformDevices) {
        // Only real devices share the system's lock folder: a given backend (tests, tools) has
        // devices no other process can see.
        deviceLocks_ = MakePlatformDeviceLocks();
    }
    pcUpdateSupport_ = ReadPcUpdateSupport(folders_.modeFile);
    if (!options.slotsFile.empty()) {
        if (!slots_.Load(options.slotsFile, error)) {
            error = "slots file " + error;
            return false;
        }
    } else {
        const auto settings = options.settingsFile.empty() ? folders_.settingsFile : options.settingsFile;
        const auto beside = settings.parent_path() / "slots.ini";
        std::error_code ec;
        if (std::filesystem::exists(beside, ec) && !slots_.Load(beside, error)) {
            error = "slots file " + error;
            return false;
        }
    }
    productPatterns_ = ProductPatterns(pcUpdateSupport_ != 0);
    if (!openRecords(options, error)) return false;

    counting_ = std::make_shared<CountingBackend>(devices);
    backend_ = counting_;
    if (!options.traceFile.empty()) {
        // The file holds this run's transfers only; it replaces an older one at the end.
        trace_ = std::make_shared<TraceSink>(options.traceFile);
        if (!trace_->good()) {
            error = "--trace " + PathToUtf8(options.traceFile) + ": cannot write the file";
            return false;
        }
        traceFile_ = options.traceFile;
    }
    if (trace_ || options.transferObserver)
        backend_ = std::make_shared<TracingBackend>(backend_, trace_, std::move(options.transferObserver));

    if (fleet_) fleet_->Start();
    return true;
}

std::filesystem::path RecordsFileFor(const ProgramFolders& folders,
                                     const std::filesystem::path& settingsFile) {
    if (!settingsFile.empty() && settingsFile != folders.settingsFile)
        return settingsFile.parent_path() / "records.sqlite";
    return folders.recordsFile;
}

std::string StationNameFor(const std::filesystem::path& settingsFile) {
    std::string name = OpenSettingsStore(settingsFile)->ReadString(kSettingsSection, "station", "");
    return name.empty() ? StationHostName() : name;
}

std::string RecordsUrlFor(const std::filesystem::path& settingsFile) {
    return OpenSettingsStore(settingsFile)->ReadString(kSettingsSection, "recordsUrl", "");
}

bool Station::openRecords(const StationOptions& options, std::string& error) {
    if (options.noRecords) return true;
    std::filesystem::path file = options.recordsFile;
    const bool named = !file.empty();
    const auto settings = options.settingsFile.empty() ? folders_.settingsFile : options.settingsFile;
    if (!named && !options.simulation) file = RecordsFileFor(folders_, options.settingsFile);
    if (file.empty()) return true;
    const std::string name = !options.stationName.empty() ? options.stationName : StationNameFor(settings);
    std::string why;
    records_ = Records::Open(file, name, BREVLOAD_VERSION, why);
    if (!records_) {
        // Records never stop a flash, unless the operator named the file.
        if (named) {
            error = "--records " + why;
            return false;
        }
        report("no records are kept: " + why);
        return true;
    }
    records_->SetSettings(&settings_);
    const std::string url = !options.recordsUrl.empty() ? options.recordsUrl : RecordsUrlFor(settings);
    if (!url.empty() && !PushUnavailableReason().empty()) {
        report(PushUnavailableReason());
    } else if (!url.empty()) {
        pusher_ = std::make_unique<RecordsPusher>(records_, url, options.recordsRetry);
        records_->SetOnCommitted([pusher = pusher_.get()] { pusher->Wake(); });
    }
    return true;
}

Station::~Station() {
    std::string ignored;
    Finish(ignored);
}

void Station::SetProblemReporter(std::function<void(const std::string&)> reporter) {
    reporter_ = std::move(reporter);
    // What opening the station had to say is said to the first reporter.
    if (reporter_ && !reporterSet_) {
        for (const std::string& text : earlyReports_) reporter_(text);
    }
    reporterSet_ = true;
    earlyReports_.clear();
}

void Station::report(const std::string& text) {
    if (reporter_) {
        reporter_(text);
    } else if (!reporterSet_) {
        earlyReports_.push_back(text);
    }
}

std::vector<PresentDevice> Station::Scan() {
    CMutilMassStorage scanner(backend_, productPatterns_, vendorPatterns_);
    std::vector<PresentDevice> found;
    scanner.GetDevices(found);
    for (PresentDevice& device : found) device.slot = slots_.LabelFor(device.location.portPath);
    for (const std::string& problem : scanner.permissionProblems()) report(problem);
    return found;
}

std::optional<PresentDevice> Station::Probe(const VolumeRef& volume) {
    MassDevice device(backend_, volume.path, volume.name, vendorPatterns_, productPatterns_);
    if (device.Open() == 0) {
        if (const std::string problem = device.permissionProblem(); !problem.empty()) report(problem);
        return std::nullopt;
    }
    PresentDevice found{volume.name, volume.path, device.GetProductId(), device.location()};
    found.slot = slots_.LabelFor(found.location.portPath);
    device.Close();
    return found;
}

IDeviceEventSource* Station::Events() {
    if (eventsChosen_) return events_;
    eventsChosen_ = true;
    platformEvents_ = MakePlatformHotplug();
    events_ = platformEvents_.get();
    return events_;
}

JobEnvironment Station::Environment(IJobNotifier* notifier) {
    JobEnvironment env;
    env.backend = backend_;
    env.notifier = notifier;
    env.settings = &settings_;
    env.registry = &registry_;
    env.programFolder = folders_.programFolder;
    env.deviceProgramsDir = folders_.deviceProgramsDir;
    env.tickCount = tickCount_;
    env.sleep = sleep_;
    env.vendorPatterns = vendorPatterns_;
    env.productPatterns = productPatterns_;
    env.deviceLocks = deviceLocks_;
    env.recorder = records_;
    return env;
}

bool Station::Finish(std::string& error) {
    if (finished_) return true;
    finished_ = true;
    registry_.WaitAll();
    // What the last jobs recorded goes out before the station closes.
    if (pusher_) {
        records_->SetOnCommitted({});
        pusher_->Stop();
    }
    bool ok = true;
    if (fleet_) ok = fleet_->Finish(error);
    if (trace_) {
        // A record cut short is no record: the run fails with the system's reason.
        std::error_code ec = trace_->Commit();
        if (!ec && !trace_->good()) ec = std::make_error_code(std::errc::io_error);
        if (ec) {
            error = "--trace " + PathToUtf8(traceFile_) + ": cannot write the file: " + ec.message();
            traceFailed_ = true;
            ok = false;
        }
    }
    if (!privateFolder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(privateFolder_, ec);
    }
    return ok;
}

void Station::Abandon() {
    if (privateFolder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(privateFolder_, ec);
}

}  // namespace brev
