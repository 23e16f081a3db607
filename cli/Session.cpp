#include "cli/Session.h"

#include <algorithm>
#include <set>

#include "app/settings/SettingsFile.h"
#include "base/Utf8Path.h"
#include "cli/Signals.h"

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

Session::Session(const CommonOptions& options, COutput& output)
    : options_(options), output_(output), signals_(std::make_unique<StopSignals>()) {}

Session::~Session() {
    std::string ignored;
    Finish(ignored);
}

std::filesystem::path Session::SettingsFilePath() const { return SettingsFileOf(options_); }

bool Session::loadSettings(std::string& error) {
    // The operator's settings, also in a simulated run: the tool only reads them.
    const std::filesystem::path file = SettingsFilePath();
    SharedSettings& settings = station_->settings();
    WindowSettings window;
    std::error_code ec;
    settingsFileFound_ = std::filesystem::is_regular_file(file, ec);
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
    stationOptions.slotsFile = PathFromUtf8(options_.slotsFile);
    stationOptions.settingsFile = SettingsFilePath();
    if (options_.verbose) {
        stationOptions.transferObserver = [&output = output_](const std::string& name, const uint8_t* cdb,
                                                              const TransferResult& result) {
            output.CommandDone(name, cdb, result);
        };
    }
    stationOptions.recordsFile = PathFromUtf8(options_.recordsFile);
    stationOptions.noRecords = options_.noRecords;
    stationOptions.stationName = options_.station;
    stationOptions.recordsUrl = options_.recordsUrl;
    station_ = Station::Open(std::move(stationOptions), error);
    if (!station_) return false;
    station_->SetProblemReporter([this](const std::string& text) { output_.Error(text); });
    if (!loadSettings(error)) return false;
    output_.SetBytesSource(
        [station = station_.get()](const std::string& name) { return station->counting().BytesFor(name); });
    env_ = station_->Environment(&output_);
    return true;
}

bool Session::Wanted(const PresentDevice& device) const {
    return options_.devices.empty() ||
           std::any_of(options_.devices.begin(), options_.devices.end(),
                       [&device](const std::string& selector) { return MatchDevice(selector, device); });
}

bool Session::Select(const std::vector<PresentDevice>& present, std::vector<PresentDevice>& chosen) {
    chosen.clear();
    for (const PresentDevice& d : present) {
        if (Wanted(d)) chosen.push_back(d);
    }
    bool allFound = true;
    std::set<std::string> reported;
    for (const std::string& selector : options_.devices) {
        const bool there = std::any_of(present.begin(), present.end(), [&selector](const PresentDevice& d) {
            return MatchDevice(selector, d);
        });
        if (there || !reported.insert(selector).second) continue;
        allFound = false;
        output_.Error("--device " + selector + ": no such device present");
        output_.DeviceMissing(selector, "not present");
    }
    return allFound;
}

bool Session::Probe(const VolumeRef& volume, PresentDevice& out) {
    std::optional<PresentDevice> found = station_->Probe(volume);
    if (!found) return false;
    out = std::move(*found);
    return true;
}

void Session::Abandon() {
    if (station_) station_->Abandon();
}

void Session::ShowOptionsInEffect() {
    if (!station_) return;
    const SharedSettings& s = station_->settings();
    const auto from = [](int option) { return option != 0 ? "option" : "settings"; };
    const std::string file = PathToUtf8(SettingsFilePath());
    const std::string fileText = settingsFileFound_ ? file : file + " (not found: defaults)";
    std::string pins;
    for (const auto& pin : pins_) pins += (pins.empty() ? "" : ",") + pin;
    const auto onOff = [](bool on) { return on ? "on" : "off"; };
    std::string text = "options: settings " + fileText + "; ex-flash " + onOff(exFlash_ != 0) + " (" +
                       from(options_.exFlash) + ")";
    text += std::string("; reset-after ") + onOff(s.resetAfterDownloadFlag != 0) + " (" +
            from(options_.resetAfter) + ")";
    text += std::string("; skip-unchanged ") + onOff(s.skipUnchanged != 0) + " (" +
            from(options_.skipUnchanged) + ")";
    text += std::string("; erase unit ") + (options_.erase4k ? "4 KiB" : "64 KiB");
    if (exFlash_ != 0)
        text += "; pins " + pins + " (" + (options_.pins.empty() ? "settings" : "option") + ")";

    JsonObject json = JsonEvent("options");
    json.Add("settingsFile", file)
        .Add("settingsFileFound", settingsFileFound_)
        .Add("exFlash", exFlash_ != 0)
        .Add("exFlashFrom", from(options_.exFlash))
        .Add("resetAfter", s.resetAfterDownloadFlag != 0)
        .Add("resetAfterFrom", from(options_.resetAfter))
        .Add("skipUnchanged", s.skipUnchanged != 0)
        .Add("skipUnchangedFrom", from(options_.skipUnchanged))
        .Add("erase4k", options_.erase4k)
        .Add("pins", pins);
    output_.OptionsInEffect(text, std::move(json));
}

bool Session::Finish(std::string& error) {
    if (!station_) return true;
    const bool ok = station_->Finish(error);
    output_.SetBytesSource({});
    return ok;
}

}  // namespace brev::cli
