#include "cli/SimSetup.h"

#include <charconv>
#include <chrono>
#include <system_error>

#include "base/Utf8Path.h"

namespace brev::cli {
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

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseNumber(const std::string& text, long long maxValue, long long& out) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || v < 0 || v > maxValue) return false;
    out = v;
    return true;
}

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
    auto number = [&](size_t index, long long maxValue, long long& out) {
        if (ParseNumber(parts[index], maxValue, out) && out > 0) return true;
        error = "--sim-fault " + faultText + ": '" + parts[index] + "' is not a valid number for " + kind;
        return false;
    };
    auto wrongArgs = [&](const char* usage) {
        error = "--sim-fault " + faultText + ": expected DEVICE:" + usage;
        return false;
    };
    constexpr long long kMaxCount = 1'000'000'000;
    long long v = 0;
    if (kind == "fail") {
        if (args < 1 || args > 2) return wrongArgs("fail:SUB[:N]");
        if (!number(2, 0xFF, v)) return false;
        faults.failSubCommand = static_cast<uint8_t>(v);
        faults.failNth = 1;
        if (args == 2) {
            if (!number(3, kMaxCount, v)) return false;
            faults.failNth = static_cast<int>(v);
        }
    } else if (kind == "crc-swap") {
        if (args != 0) return wrongArgs("crc-swap");
        faults.crcByteSwap = true;
    } else if (kind == "flip" || kind == "drop" || kind == "timeout") {
        if (args != 1) return wrongArgs((kind + ":N").c_str());
        if (!number(2, kMaxCount, v)) return false;
        const int n = static_cast<int>(v);
        if (kind == "flip") faults.flipBitInWriteNth = n;
        if (kind == "drop") faults.dropAfterCommands = n;
        if (kind == "timeout") faults.timeoutNth = n;
    } else {
        error = "--sim-fault " + faultText + ": unknown kind '" + kind + "' (fail, crc-swap, flip, drop, timeout)";
        return false;
    }
    return true;
}

bool SimSetup::Build(const CommonOptions& options, std::string& error) {
    sim::TimingProfile timing = options.simProfile == "realistic"
                                    ? sim::TimingProfile::Realistic(options.simTimeScale)
                                    : sim::TimingProfile::Zero();
    timing.timeScale = options.simTimeScale;

    std::map<std::string, sim::FaultConfig> faults;
    for (const std::string& faultText : options.simFaults) {
        std::string name;
        sim::FaultConfig& merged = faults[Split(faultText, ':')[0]];
        if (!ParseSimFault(faultText, name, merged, error)) return false;
    }

    std::vector<std::pair<std::string, bool>> names;  // name, PC mode
    for (int i = 0; i < options.simulate; ++i) names.emplace_back("sim" + std::to_string(i), false);
    for (int i = 0; i < options.simulatePc; ++i) names.emplace_back("simpc" + std::to_string(i), true);
    for (const auto& [name, config] : faults) {
        (void)config;
        bool known = false;
        for (const auto& n : names) known = known || n.first == name;
        if (!known) {
            error = "--sim-fault: there is no simulated device '" + name + "'";
            return false;
        }
    }

    dir_ = PathFromUtf8(options.simDir);
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        if (ec) {
            error = "--sim-dir " + options.simDir + ": " + ec.message();
            return false;
        }
    }
    for (const auto& [name, pc] : names) {
        sim::SimDeviceConfig config = pc ? sim::SimDeviceConfig::PcMode() : sim::SimDeviceConfig{};
        config.timing = timing;
        if (auto it = faults.find(name); it != faults.end()) config.faults = it->second;
        auto device = std::make_shared<sim::SimDevice>(config);
        if (!dir_.empty()) {
            // A file of the wrong size is refused here, before it could be overwritten at exit.
            const auto nor = dir_ / (name + ".flash");
            const auto ex = dir_ / (name + ".exflash");
            if (!device->LoadNor(nor)) {
                error = "cannot load " + nor.string() + " (it must hold exactly " +
                        std::to_string(config.norSize) + " bytes)";
                return false;
            }
            if (!device->LoadExFlash(ex)) {
                error = "cannot load " + ex.string() + " (it must hold exactly " +
                        std::to_string(config.exFlashSize) + " bytes)";
                return false;
            }
        }
        devices_.push_back({name, std::move(device)});
    }
    attachAfterMs_ = options.simAttachAfterMs;
    return true;
}

void SimSetup::Start() {
    if (attachAfterMs_ < 0) {
        for (const auto& e : devices_) bus_->Attach(e.name, e.device);
        return;
    }
    attacher_ = std::thread([this] {
        for (const auto& e : devices_) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::milliseconds(attachAfterMs_), [this] { return stop_; }))
                return;
            lock.unlock();
            bus_->Attach(e.name, e.device);
        }
    });
}

void SimSetup::stopAttacher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (attacher_.joinable()) attacher_.join();
}

bool SimSetup::Finish(std::string& error) {
    stopAttacher();
    if (dir_.empty()) return true;
    bool ok = true;
    for (const auto& e : devices_) {
        const auto nor = dir_ / (e.name + ".flash");
        const auto ex = dir_ / (e.name + ".exflash");
        if (!e.device->SaveNor(nor)) {
            error += (error.empty() ? "" : "; ") + std::string("cannot save ") + nor.string();
            ok = false;
        }
        if (!e.device->SaveExFlash(ex)) {
            error += (error.empty() ? "" : "; ") + std::string("cannot save ") + ex.string();
            ok = false;
        }
    }
    return ok;
}

SimSetup::~SimSetup() { stopAttacher(); }

std::shared_ptr<sim::SimDevice> SimSetup::device(const std::string& name) const {
    for (const auto& e : devices_) {
        if (e.name == name) return e.device;
    }
    return nullptr;
}

}  // namespace brev::cli
