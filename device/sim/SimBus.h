// A simulated USB bus: devices attach and detach at run time; the backend over it
// behaves like an OS backend (listing, drive type, open, transfers, removal).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/DeviceEvents.h"
#include "device/PassThrough.h"
#include "device/sim/SimDevice.h"

namespace brev::sim {

class SimBus : public IDeviceEventSource {
public:
    SimBus();
    ~SimBus() override;
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // Attaches a device under `name` (path "sim:NAME") and raises an arrival event. Plugging in
    // powers the device up (SimDevice::PowerCycle). A device already under that name is detached first.
    void Attach(const std::string& name, std::shared_ptr<SimDevice> device);
    // Detaches it: open handles fail from now on; raises a removal event. A device that a fault
    // drops off the bus is detached the same way.
    void Detach(const std::string& name);
    std::shared_ptr<SimDevice> Find(const std::string& name) const;
    // The device and its attachment (`generation`, 0 when detached) in one look-up.
    std::shared_ptr<SimDevice> Find(const std::string& name, uint64_t* generation) const;
    std::vector<std::string> Names() const;  // sorted by name
    // Which attachment `name` is (0 when detached); handles remember it to tell a re-attach apart.
    uint64_t Generation(const std::string& name) const;

    int Fd() const override;  // readable while events are pending (-1 where there are no pipes)
    std::vector<DeviceEvent> ReadEvents() override;

    static std::string PathFor(const std::string& name) { return "sim:" + name; }
    // Where a simulated device sits, fixed by its name: simN at port 0-(N+1) with serial
    // BRVSIM + N in four digits, simpcN at 0-(101+N) with BRVSIMPC + four digits. Bus 0 exists on
    // no real machine. Empty for other names.
    static DeviceLocation LocationFor(const std::string& name);

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

class SimBackend : public IPassThroughBackend {
public:
    explicit SimBackend(std::shared_ptr<SimBus> bus);
    std::vector<VolumeRef> ListVolumes() override;
    DriveType QueryDriveType(const std::string& name, const std::string& path) override;
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override;
    const std::shared_ptr<SimBus>& bus() const { return bus_; }

private:
    std::shared_ptr<SimBus> bus_;
};

}  // namespace brev::sim
