// The simulated devices of --simulate / --simulate-pc: their faults, timing, flash files and
// the bus they are attached to.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/Options.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"

namespace brev::cli {

// "sim1:fail:0x82:3" -> device "sim1", the fault merged into `faults`. False with a reason
// for an unknown kind or a bad number.
bool ParseSimFault(const std::string& faultText, std::string& device, sim::FaultConfig& faults,
                   std::string& error);

class SimSetup {
public:
    // Builds the devices (not yet attached). False with a reason on a bad fault, a fault for a
    // device that is not simulated, or a flash file that cannot be loaded.
    bool Build(const CommonOptions& options, std::string& error);
    // Attaches every device now, or one by one `attachAfterMs` apart on a thread of its own.
    void Start();
    // Stops attaching; saves the flash files when a folder was given. False with a reason when
    // a file could not be written.
    bool Finish(std::string& error);
    ~SimSetup();

    const std::shared_ptr<sim::SimBus>& bus() const { return bus_; }
    std::shared_ptr<sim::SimDevice> device(const std::string& name) const;

private:
    struct Entry {
        std::string name;
        std::shared_ptr<sim::SimDevice> device;
    };
    void stopAttacher();

    std::shared_ptr<sim::SimBus> bus_ = std::make_shared<sim::SimBus>();
    std::vector<Entry> devices_;
    std::filesystem::path dir_;
    int attachAfterMs_ = -1;

    std::thread attacher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace brev::cli
