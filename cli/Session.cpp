#include "cli/Session.h"

#include <algorithm>
#include <set>

#include "app/ProgramFolder.h"
#include "app/settings/SettingsFile.h"
#include "base/Utf8Path.h"

namespace brev::cli {

SimFleetOptions SimFleetFor(const CommonOptions& options) {
    SimFleetOptions fleet;
    fleet.downloadDevices = options.simulate;
    fleet.pcDevices = options.simulatePc;
    fleet.realistic = options.simProfile == "realistic";
    fleet.timeScale = options.simTimeScale;
    fleet.faults = options.simFaults;
    fleet.flashDir = PathFromUtf8(options.simDir);
    fleet.attachAfterMs = options.simAttachAfterMs;
    fleet.maxTransfer = options.simMaxTransfer;
    return fleet;
}

Session::Session(const CommonOptions& options, COutput& output) : options_(options), output_(output) {}

Session::~Session() {
    std::string ignored;
    Finish(ignored);
}

bool Session::loadSettings(std::string& error) {
    // The operator's settings, also in a simulated run: the tool only reads them.
    const std::filesystem::path file = options_.configFile.empty() ? CurrentProgramFolders().settingsFile
                                                                   : PathFromUtf8(options_.configFile);
    SharedSettings& settings = station_->settings();
    WindowSettings window;
    LoadSettings(file, settings, window);

    if (options_.resetAfter != 0) settings.resetAfterDownloadFlag = options_.resetAfter > 0 ? 1 : 0;
    if (options_.skipUnchanged != 0) settings.skipUnchanged = options_.skipUnchanged > 0 ? 1 : 0;
    if (options_.clkDiv) settings.busClkDiv = static_cast<uint8_t>(*options_.clkDiv);
    if (options_.lineMode) settings.busLineMode = static_cast<uint8_t>(*options_.lineMode);
    if (options_.chipSelIndirect)
        settings.busChipSelIndirect = static_cast<uint8_t>(*options_.chipSelIndirect);
    if (options_.chipSelDirect) settings.busChipSelDirect = static_cast<uint8_t>(*options_.chipSelDirect);
    if (options_.chipType) settings.busChipType = static_cast<uint8_t>(*options_.chipType);
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
    StationOptions stationOptions;
    if (options_.simulated()) stationOptions.simulation = SimFleetFor(options_);
    stationOptions.traceFile = PathFromUtf8(options_.traceFile);
    station_ = Station::Open(std::move(stationOptions), error);
    if (!station_) return false;
    station_->SetProblemReporter([this](const std::string& text) { output_.Error(text); });
    if (!loadSettings(error)) return false;
    output_.SetBytesSource(
        [station = station_.get()](const std::string& name) { return station->counting().BytesFor(name); });
    env_ = station_->Environment(&output_);
    return true;
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
    std::optional<PresentDevice> found = station_->Probe(volume);
    if (!found) return false;
    out = std::move(*found);
    return true;
}

bool Session::Finish(std::string& error) {
    if (!station_) return true;
    const bool ok = station_->Finish(error);
    output_.SetBytesSource({});
    return ok;
}

}  // namespace brev::cli
