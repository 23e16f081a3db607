// A simulated USB bus: devices attach and detach at run time; the backend over it
// behaves like an OS backend (listing, drive type, open, transfers, removal).
#pragma once

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

    // Attaches a device under `name` (path "sim:NAME") and raises an arrival event.
    void Attach(const std::string& name, std::shared_ptr<SimDevice> device);
    // Detaches it: open handles fail from now on; raises a removal event.
    void Detach(const std::string& name);
    std::shared_ptr<SimDevice> Find(const std::string& name) const;
    std::vector<std::string> Names() const;  // sorted by name

    int Fd() const override;  // readable while events are pending (-1 where there are no pipes)
    std::vector<DeviceEvent> ReadEvents() override;

    static std::string PathFor(const std::string& name) { return "sim:" + name; }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<SimDevice>> devices_;
    std::vector<DeviceEvent> pending_;
    int pipe_[2] = {-1, -1};
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
