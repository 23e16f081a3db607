#include "cli/Session.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "app/ProgramFolder.h"
#include "app/settings/SettingsFile.h"
#include "cli/RealDevices.h"
#include "device/MassDevice.h"
#include "device/sim/SimDevice.h"
#include "base/Utf8Path.h"

namespace brev::cli {
namespace {

uint32_t TickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

// A fresh private folder for the simulator's device programs.
std::filesystem::path MakeTempDir(std::string& error) {
    std::error_code ec;
    const auto base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return {};
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto dir = base / ("brevload-cli-" + std::to_string(rd()));
        if (std::filesystem::create_directory(dir, ec)) return dir;
    }
    error = "cannot create a temporary folder under " + base.string();
    return {};
}

}  // namespace

Session::Session(const CommonOptions& options, COutput& output) : options_(options), output_(output) {}

Session::~Session() {
    std::string ignored;
    Finish(ignored);
}

bool Session::loadSettings(std::string& error) {
    const std::filesystem::path file = options_.configFile.empty() ? CurrentProgramFolders().settingsFile
                                                                   : PathFromUtf8(options_.configFile);
    WindowSettings window;
    LoadSettings(file, settings_, window);

    if (options_.resetAfter != 0) settings_.resetAfterDownloadFlag = options_.resetAfter > 0 ? 1 : 0;
    if (options_.clkDiv) settings_.busClkDiv = static_cast<uint8_t>(*options_.clkDiv);
    if (options_.lineMode) settings_.busLineMode = static_cast<uint8_t>(*options_.lineMode);
    if (options_.chipSelIndirect)
        settings_.busChipSelIndirect = static_cast<uint8_t>(*options_.chipSelIndirect);
    if (options_.chipSelDirect) settings_.busChipSelDirect = static_cast<uint8_t>(*options_.chipSelDirect);
    if (options_.chipType) settings_.busChipType = static_cast<uint8_t>(*options_.chipType);
    exFlash_ = options_.exFlash != 0 ? (options_.exFlash > 0 ? 1 : 0) : (window.exFlash ? 1 : 0);

    std::vector<std::string> pins{window.cs, window.clk, window.si, window.so};
    if (!options_.pins.empty() && !ParsePinList(options_.pins, pins)) {
        error = "--pins " + options_.pins + ": expected CS,CLK,MOSI,MISO";
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        if (pins[i].empty()) {
            error = "the settings file names no pin for " + std::string(i == 0   ? "cs"
                                                                        : i == 1 ? "clk"
                                                                        : i == 2 ? "si"
                                                                                 : "so");
            return false;
        }
        pins_[i] = pins[i];
    }
    return true;
}

bool Session::Open(std::string& error) {
    if (!loadSettings(error)) return false;

    std::shared_ptr<IPassThroughBackend> base;
    std::filesystem::path programsDir;
    std::filesystem::path programFolder;
    if (options_.simulated()) {
        sim_ = std::make_unique<SimSetup>();
        if (!sim_->Build(options_, error)) return false;
        tempDir_ = MakeTempDir(error);
        if (tempDir_.empty()) return false;
        // The simulated chip runs only its own stand-in programs; real ones never go near it.
        if (!sim::WriteStandInPrograms(tempDir_)) {
            error = "cannot write the simulator's device programs to " + tempDir_.string();
            return false;
        }
        programsDir = tempDir_;
        programFolder = tempDir_;
        base = std::make_shared<sim::SimBackend>(sim_->bus());
        productPatterns_ = ProductPatterns(options_.simulatePc > 0);
    } else {
        base = MakeRealBackend();
        if (!base) {
            error = "this platform has no device backend; use --simulate N";
            return false;
        }
        const ProgramFolders folders = CurrentProgramFolders();
        programsDir = folders.deviceProgramsDir;
        programFolder = folders.programFolder;
        productPatterns_ = ProductPatterns(ReadPcUpdateSupport(folders.modeFile) != 0);
    }

    counting_ = std::make_shared<CountingBackend>(base);
    backend_ = counting_;
    if (!options_.traceFile.empty()) {
        // The file holds this run's transfers only.
        std::ofstream(PathFromUtf8(options_.traceFile), std::ios::binary | std::ios::trunc);
        trace_ = std::make_shared<TraceSink>(PathFromUtf8(options_.traceFile));
        if (!trace_->good()) {
            error = "--trace " + options_.traceFile + ": cannot write the file";
            return false;
        }
        backend_ = std::make_shared<TracingBackend>(backend_, trace_);
    }
    output_.SetBytesSource(
        [counting = counting_](const std::string& name) { return counting->BytesFor(name); });

    env_.backend = backend_;
    env_.notifier = &output_;
    env_.settings = &settings_;
    env_.registry = &registry_;
    env_.programFolder = programFolder;
    env_.deviceProgramsDir = programsDir;
    env_.tickCount = TickCount;
    env_.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
    env_.vendorPatterns = vendorPatterns_;
    env_.productPatterns = productPatterns_;

    if (sim_) sim_->Start();
    return true;
}

std::vector<PresentDevice> Session::Scan() {
    CMutilMassStorage scanner(backend_, productPatterns_, vendorPatterns_);
    std::vector<PresentDevice> found;
    scanner.GetDevices(found);
    for (const std::string& problem : scanner.permissionProblems()) output_.Error(problem);
    return found;
}

bool Session::Wanted(const std::string& name) const {
    return options_.devices.empty() ||
           std::find(options_.devices.begin(), options_.devices.end(), name) != options_.devices.end();
}

std::vector<PresentDevice> Session::Select(const std::vector<PresentDevice>& present) {
    std::vector<PresentDevice> selected;
    for (const PresentDevice& d : present) {
        if (Wanted(d.name)) selected.push_back(d);
    }
    std::set<std::string> reported;
    for (const std::string& name : options_.devices) {
        const bool there = FindPresentDevice(present, name) != nullptr;
        if (!there && reported.insert(name).second) output_.DeviceMissing(name, "not present");
    }
    return selected;
}

bool Session::Probe(const VolumeRef& volume, PresentDevice& out) {
    MassDevice device(backend_, volume.path, volume.name, vendorPatterns_, productPatterns_);
    if (device.Open() == 0) {
        if (device.lastOpenError() == OpenError::PermissionDenied) {
            std::string text = "cannot open " + volume.name + " (" + volume.path + "): permission denied.";
            const std::string hint = device.openErrorHint();
            if (!hint.empty()) text += " " + hint;
            output_.Error(text);
        }
        return false;
    }
    out = {volume.name, volume.path, device.GetProductId()};
    device.Close();
    return true;
}

IDeviceEventSource* Session::Events() {
    if (sim_) return sim_->bus().get();
    if (!hotplug_) hotplug_ = MakeRealHotplugMonitor();
    return hotplug_.get();
}

bool Session::Finish(std::string& error) {
    if (finished_) return true;
    finished_ = true;
    registry_.WaitAll();
    bool ok = true;
    if (sim_) ok = sim_->Finish(error);
    if (!tempDir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(tempDir_, ec);
    }
    return ok;
}

}  // namespace brev::cli
