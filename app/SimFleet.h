// Simulated devices on a simulated bus, for both faces: download-mode devices sim0.., PC-mode
// devices simpc0.., their timing, injected faults, flash files kept between runs, and an
// optional one-by-one attachment.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"

namespace brev {

// "sim1:fail:0x82:3" -> device "sim1", the fault merged into `faults`. False with a reason
// for an unknown kind or a bad number. Kinds: fail:SUB[:N], crc-swap, flip:N, drop:N, timeout:N,
// short:SUB:BYTES, refuse:SUB:HOW, open:HOW:N.
bool ParseSimFault(const std::string& faultText, std::string& device, sim::FaultConfig& faults,
                   std::string& error);

struct SimFleetOptions {
    int downloadDevices = 0;  // sim0..
    int pcDevices = 0;        // simpc0..
    bool realistic = false;   // typical device timing; otherwise every command is instant
    double timeScale = 1.0;   // every simulated duration multiplied by this
    // Realistic timing only: device i of a kind is slower by this fraction per index (0: all alike).
    double slowerPerDevice = 0.0;
    std::vector<std::string> faults;  // as ParseSimFault takes them
    std::filesystem::path flashDir;   // NAME.flash / NAME.exflash loaded at start, saved by Finish
    int attachAfterMs = -1;           // -1: all attached by Start; else one by one, this far apart
    // Bytes one request may carry on each device's path; 0 for no limit.
    uint32_t maxTransfer = sim::SimDeviceConfig::kDefaultMaxTransfer;
    // A reset download-mode device comes back running PC-mode firmware (the mode file allows PC updates).
    bool resetIntoPcMode = false;

    int count() const { return downloadDevices + pcDevices; }
};

class SimFleet {
public:
    SimFleet() = default;
    ~SimFleet();
    SimFleet(const SimFleet&) = delete;
    SimFleet& operator=(const SimFleet&) = delete;

    // Builds the devices (not yet attached). False with a reason on a bad fault, a fault for a
    // device that is not simulated, or a flash file that cannot be loaded.
    bool Build(const SimFleetOptions& options, std::string& error);
    // Attaches every device now, or one by one on a thread of its own.
    void Start();
    // A further device under the first free name of its kind, attached at once; returns its name.
    std::string AttachAnother(bool pcMode);
    // Detaches every device on the bus (their jobs then end at once).
    void DetachAll();
    // Stops attaching; saves the flash files when a folder was given. False with a reason when
    // a file could not be written.
    bool Finish(std::string& error);

    const std::shared_ptr<sim::SimBus>& bus() const { return bus_; }
    std::shared_ptr<sim::SimDevice> device(const std::string& name) const;

private:
    struct Entry {
        std::string name;
        std::shared_ptr<sim::SimDevice> device;
    };
    std::shared_ptr<sim::SimDevice> makeDevice(bool pcMode, int index, const sim::FaultConfig& faults) const;
    void stopAttacher();

    SimFleetOptions options_;
    std::shared_ptr<sim::SimBus> bus_ = std::make_shared<sim::SimBus>();
    std::vector<Entry> devices_;  // built ones, saved by Finish

    std::thread attacher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace brev
