#include "app/SimFleet.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <system_error>
#include <utility>

#include "base/Parse.h"
#include "base/Utf8Path.h"

namespace brev {
namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == sep) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

std::string NameFor(bool pcMode, int index) { return (pcMode ? "simpc" : "sim") + std::to_string(index); }

}  // namespace

bool ParseSimFault(const std::string& faultText, std::string& device, sim::FaultConfig& faults,
                   std::string& error) {
    const auto parts = Split(faultText, ':');
    if (parts.size() < 2 || parts[0].empty()) {
        error = "--sim-fault " + faultText + ": expected DEVICE:KIND[:ARG...]";
        return false;
    }
    device = parts[0];
    const std::string& kind = parts[1];
    const size_t args = parts.size() - 2;
    // Counts and command numbers: no sign, not even on a zero.
    auto number = [&](size_t index, int64_t minValue, int64_t maxValue, int64_t& out) {
        const auto v = ParseInteger<uint64_t>(parts[index], NumberBase::DecimalOrHex);
        if (v && std::in_range<int64_t>(*v) && int64_t(*v) >= minValue && int64_t(*v) <= maxValue) {
            out = int64_t(*v);
            return true;
        }
        error = "--sim-fault " + faultText + ": '" + parts[index] + "' is not a valid number for " + kind;
        return false;
    };
    auto wrongArgs = [&](const char* usage) {
        error = "--sim-fault " + faultText + ": expected DEVICE:" + usage;
        return false;
    };
    constexpr int64_t kMaxCount = 1'000'000'000;
    int64_t v = 0;
    if (kind == "fail") {
        if (args < 1 || args > 2) return wrongArgs("fail:SUB[:N]");
        if (!number(2, 0, 0xFF, v)) return false;  // 0 is ReadFlashId
        faults.failSubCommand = static_cast<uint8_t>(v);
        faults.failNth = 1;
        if (args == 2) {
            if (!number(3, 1, kMaxCount, v)) return false;
            faults.failNth = static_cast<int>(v);
        }
    } else if (kind == "short") {
        if (args != 2) return wrongArgs("short:SUB:BYTES");
        if (!number(2, 0, 0xFF, v)) return false;
        faults.shortSubCommand = static_cast<uint8_t>(v);
        if (!number(3, 0, UINT32_MAX, v)) return false;
        faults.shortBytes = static_cast<uint32_t>(v);
        faults.shortIn = true;
    } else if (kind == "crc-swap") {
        if (args != 0) return wrongArgs("crc-swap");
        faults.crcByteSwap = true;
    } else if (kind == "flip" || kind == "drop" || kind == "timeout") {
        if (args != 1) return wrongArgs((kind + ":N").c_str());
        if (!number(2, 1, kMaxCount, v)) return false;
        const int n = static_cast<int>(v);
        if (kind == "flip") faults.flipBitInWriteNth = n;
        if (kind == "drop") faults.dropAfterCommands = n;
        if (kind == "timeout") faults.timeoutNth = n;
    } else if (kind == "refuse") {
        using Refusal = sim::FaultConfig::Refusal;
        if (args != 2) return wrongArgs("refuse:SUB:permission|interrupted|busy|scsi-busy");
        if (!number(2, 0, 0xFF, v)) return false;
        const std::string& how = parts[3];
        const Refusal refusal = how == "permission"    ? Refusal::Permission
                                : how == "interrupted" ? Refusal::Interrupted
                                : how == "busy"        ? Refusal::SystemBusy
                                : how == "scsi-busy"   ? Refusal::DeviceBusy
                                                       : Refusal::None;
        if (refusal == Refusal::None) return wrongArgs("refuse:SUB:permission|interrupted|busy|scsi-busy");
        faults.refusal = refusal;
        faults.refuseSubCommand = static_cast<uint8_t>(v);
    } else if (kind == "open") {
        if (args != 2) return wrongArgs("open:permission|busy|missing|failed:N");
        const std::string& how = parts[2];
        const OpenError why = how == "permission" ? OpenError::PermissionDenied
                              : how == "busy"     ? OpenError::Busy
                              : how == "missing"  ? OpenError::NotFound
                              : how == "failed"   ? OpenError::Other
                                                  : OpenError::None;
        if (why == OpenError::None) return wrongArgs("open:permission|busy|missing|failed:N");
        if (!number(3, 1, kMaxCount, v)) return false;
        faults.openError = why;
        faults.refuseOpenFrom = static_cast<int>(v);
    } else {
        error = "--sim-fault " + faultText + ": unknown kind '" + kind +
                "' (fail, crc-swap, flip, drop, timeout, short, refuse, open)";
        return false;
    }
    return true;
}

std::shared_ptr<sim::SimDevice> SimFleet::makeDevice(bool pcMode, int index,
                                                     const sim::FaultConfig& faults) const {
    sim::SimDeviceConfig config = pcMode ? sim::SimDeviceConfig::PcMode() : sim::SimDeviceConfig{};
    if (options_.realistic) {
        config.timing =
            sim::TimingProfile::Realistic(options_.timeScale * (1.0 + options_.slowerPerDevice * index));
    } else {
        config.timing = sim::TimingProfile::Zero();
        config.timing.timeScale = options_.timeScale;
        config.timing.rebootUs = 150'000;  // still a while off the bus after a reset
    }
    config.faults = faults;
    config.maxTransfer = options_.maxTransfer;
    config.resetIntoPcMode = options_.resetIntoPcMode && !pcMode;
    return std::make_shared<sim::SimDevice>(config);
}

bool SimFleet::Build(const SimFleetOptions& options, std::string& error) {
    options_ = options;
    std::map<std::string, sim::FaultConfig> faults;
    for (const std::string& faultText : options.faults) {
        std::string name;
        sim::FaultConfig& merged = faults[Split(faultText, ':')[0]];
        if (!ParseSimFault(faultText, name, merged, error)) return false;
    }

    struct Planned {
        std::string name;
        bool pc;
        int index;
    };
    std::vector<Planned> planned;
    for (int i = 0; i < options.downloadDevices; ++i) planned.push_back({NameFor(false, i), false, i});
    for (int i = 0; i < options.pcDevices; ++i) planned.push_back({NameFor(true, i), true, i});
    for (const auto& entry : faults) {
        const bool known = std::any_of(planned.begin(), planned.end(),
                                       [&](const Planned& p) { return p.name == entry.first; });
        if (!known) {
            error = "--sim-fault: there is no simulated device '" + entry.first + "'";
            return false;
        }
    }

    const std::filesystem::path& dir = options.flashDir;
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            error = "--sim-dir " + PathToUtf8(dir) + ": " + ec.message();
            return false;
        }
    }
    for (const Planned& p : planned) {
        const auto fault = faults.find(p.name);
        auto device = makeDevice(p.pc, p.index, fault != faults.end() ? fault->second : sim::FaultConfig{});
        if (!dir.empty()) {
            // A file of the wrong size is refused here, before it could be overwritten at exit.
            const auto nor = dir / (p.name + ".flash");
            const auto ex = dir / (p.name + ".exflash");
            if (!device->LoadNor(nor)) {
                error = "cannot load " + PathToUtf8(nor) + " (it must hold exactly " +
                        std::to_string(device->config().norSize) + " bytes)";
                return false;
            }
            if (!device->LoadExFlash(ex)) {
                error = "cannot load " + PathToUtf8(ex) + " (it must hold exactly " +
                        std::to_string(device->config().exFlashSize) + " bytes)";
                return false;
            }
        }
        devices_.push_back({p.name, std::move(device)});
    }
    return true;
}

void SimFleet::Start() {
    if (options_.attachAfterMs < 0) {
        for (const auto& e : devices_) bus_->Attach(e.name, e.device);
        return;
    }
    attacher_ = std::thread([this] {
        for (const auto& e : devices_) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::milliseconds(options_.attachAfterMs),
                               [this] { return stop_; }))
                return;
            lock.unlock();
            bus_->Attach(e.name, e.device);
        }
    });
}

std::string SimFleet::AttachAnother(bool pcMode) {
    const auto names = bus_->Names();
    std::string name;
    for (int i = 0;; ++i) {
        name = NameFor(pcMode, i);
        if (std::find(names.begin(), names.end(), name) == names.end()) break;
    }
    // Download-mode devices take turns among three speeds; PC-mode ones run at the first.
    const int index = pcMode ? 0 : static_cast<int>(names.size() % 3);
    bus_->Attach(name, makeDevice(pcMode, index, {}));
    return name;
}

void SimFleet::DetachAll() {
    stopAttacher();
    for (const std::string& name : bus_->Names()) bus_->Detach(name);
}

void SimFleet::stopAttacher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (attacher_.joinable()) attacher_.join();
}

bool SimFleet::Finish(std::string& error) {
    stopAttacher();
    const std::filesystem::path& dir = options_.flashDir;
    if (dir.empty()) return true;
    bool ok = true;
    for (const auto& e : devices_) {
        const auto nor = dir / (e.name + ".flash");
        const auto ex = dir / (e.name + ".exflash");
        if (!e.device->SaveNor(nor)) {
            error += (error.empty() ? "" : "; ") + std::string("cannot save ") + PathToUtf8(nor);
            ok = false;
        }
        if (!e.device->SaveExFlash(ex)) {
            error += (error.empty() ? "" : "; ") + std::string("cannot save ") + PathToUtf8(ex);
            ok = false;
        }
    }
    return ok;
}

SimFleet::~SimFleet() { stopAttacher(); }

std::shared_ptr<sim::SimDevice> SimFleet::device(const std::string& name) const {
    for (const auto& e : devices_) {
        if (e.name == name) return e.device;
    }
    return bus_->Find(name);
}

}  // namespace brev
