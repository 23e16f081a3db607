#include "device/sim/SimBus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <string_view>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "base/Parse.h"

namespace brev::sim {

struct SimBus::Core {
    struct Entry {
        std::shared_ptr<SimDevice> device;
        uint64_t generation = 0;
    };

    // A device off the bus for a reset, due back at `due`.
    struct Return {
        std::chrono::steady_clock::time_point due;
        std::string name;
        std::shared_ptr<SimDevice> device;
    };

    std::mutex mutex;
    std::map<std::string, Entry> devices;
    std::vector<DeviceEvent> pending;
    uint64_t nextGeneration = 1;
    int pipe[2] = {-1, -1};
    std::weak_ptr<Core> self;
    // Returns after a reset, brought back by `returner` (started with the first).
    std::vector<Return> returns;
    std::condition_variable wake;
    bool stopping = false;
    std::thread returner;

    Core() {
#ifndef _WIN32
        if (::pipe(pipe) == 0) {
            for (int fd : pipe) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        } else {
            pipe[0] = pipe[1] = -1;
        }
#endif
    }

    ~Core() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        // The returner never holds a reference of its own, so this is never its thread.
        if (returner.joinable()) returner.join();
#ifndef _WIN32
        for (int fd : pipe)
            if (fd >= 0) ::close(fd);
#endif
    }

    // Called with `mutex` held. The pipe holds one byte exactly while events are pending.
    void Raise(DeviceEvent::Kind kind, const std::string& name) {
        const bool wasEmpty = pending.empty();
        pending.push_back({kind, {name, PathFor(name)}});
#ifndef _WIN32
        if (wasEmpty && pipe[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto n = ::write(pipe[1], &byte, 1);
        }
#else
        (void)wasEmpty;
#endif
    }

    // Puts `device` on the bus under `name` (arrival event) and listens for it leaving by itself.
    // Not with `mutex` held. False when something is attached under `name` already and
    // `replace` is false.
    bool Put(const std::string& name, const std::shared_ptr<SimDevice>& device, bool replace) {
        uint64_t generation = 0;
        {
            std::lock_guard lock(mutex);
            if (!replace && devices.contains(name)) return false;
            Remove(name, 0);
            generation = nextGeneration++;
            devices[name] = {device, generation};
            Raise(DeviceEvent::Kind::Arrival, name);
        }
        Listen(name, device, generation);
        return true;
    }

    // A device that drops off the bus by itself, or resets, leaves it like an unplugged one; the
    // generation keeps a stale listener from removing a later attachment.
    void Listen(const std::string& name, const std::shared_ptr<SimDevice>& device, uint64_t generation) {
        std::weak_ptr<Core> weak = self;
        device->SetOffBusListener([weak, name, generation] {
            if (auto core = weak.lock()) {
                std::lock_guard lock(core->mutex);
                core->Remove(name, generation);
            }
        });
        std::weak_ptr<SimDevice> weakDevice = device;
        device->SetRebootListener([weak, weakDevice, name, generation](std::chrono::microseconds after) {
            auto core = weak.lock();
            auto rebooted = weakDevice.lock();
            if (!core || !rebooted) return;
            {
                std::lock_guard lock(core->mutex);
                if (!core->Remove(name, generation)) return;  // unplugged already
            }
            core->ReturnLater({std::chrono::steady_clock::now() + after, name, std::move(rebooted)});
        });
    }

    void ReturnLater(Return r) {
        std::lock_guard lock(mutex);
        if (stopping) return;
        returns.push_back(std::move(r));
        if (!returner.joinable()) returner = std::thread([this] { RunReturns(); });
        wake.notify_all();
    }

    void RunReturns() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (returns.empty()) {
                wake.wait(lock);
                continue;
            }
            const auto next =
                std::min_element(returns.begin(), returns.end(),
                                 [](const Return& a, const Return& b) { return a.due < b.due; });
            // A copy: the wait lets go of the lock, and a new return may move the vector's elements.
            const auto dueAt = next->due;
            if (std::chrono::steady_clock::now() < dueAt) {
                wake.wait_until(lock, dueAt);
                continue;
            }
            Return due = std::move(*next);
            returns.erase(next);
            lock.unlock();
            due.device->RebootDone();
            // A device plugged in under the name meanwhile keeps it.
            Put(due.name, due.device, false);
            lock.lock();
        }
    }

    // Called with `mutex` held.
    bool Remove(const std::string& name, uint64_t generation) {
        const auto it = devices.find(name);
        if (it == devices.end() || (generation != 0 && it->second.generation != generation)) return false;
        devices.erase(it);
        Raise(DeviceEvent::Kind::Removal, name);
        return true;
    }
};

SimBus::SimBus() : core_(std::make_shared<Core>()) { core_->self = core_; }

SimBus::~SimBus() = default;

void SimBus::Attach(const std::string& name, std::shared_ptr<SimDevice> device) {
    if (!device) return;
    device->PowerCycle();
    core_->Put(name, device, true);
}

void SimBus::Detach(const std::string& name) {
    std::lock_guard lock(core_->mutex);
    core_->Remove(name, 0);
}

std::shared_ptr<SimDevice> SimBus::Find(const std::string& name) const { return Find(name, nullptr); }

std::shared_ptr<SimDevice> SimBus::Find(const std::string& name, uint64_t* generation) const {
    std::lock_guard lock(core_->mutex);
    const auto it = core_->devices.find(name);
    const bool found = it != core_->devices.end();
    if (generation) *generation = found ? it->second.generation : 0;
    return found ? it->second.device : nullptr;
}

DeviceLocation SimBus::LocationFor(const std::string& name) {
    if (!name.starts_with("sim")) return {};
    const bool pc = name.starts_with("simpc");
    const auto index = ParseInteger<int>(std::string_view(name).substr(pc ? 5 : 3));
    if (!index || *index < 0 || *index > 9999) return {};
    char serial[16];
    std::snprintf(serial, sizeof serial, "%04d", *index);
    DeviceLocation location;
    location.portPath = "0-" + std::to_string(*index + (pc ? 101 : 1));
    location.serial = (pc ? "BRVSIMPC" : "BRVSIM") + std::string(serial);
    return location;
}

std::vector<std::string> SimBus::Names() const {
    std::lock_guard lock(core_->mutex);
    std::vector<std::string> names;
    for (const auto& entry : core_->devices) names.push_back(entry.first);
    return names;
}

uint64_t SimBus::Generation(const std::string& name) const {
    std::lock_guard lock(core_->mutex);
    const auto it = core_->devices.find(name);
    return it == core_->devices.end() ? 0 : it->second.generation;
}

int SimBus::Fd() const { return core_->pipe[0]; }

std::vector<DeviceEvent> SimBus::ReadEvents() {
    std::lock_guard lock(core_->mutex);
    std::vector<DeviceEvent> events;
    events.swap(core_->pending);
#ifndef _WIN32
    if (core_->pipe[0] >= 0) {
        char buf[16];
        while (::read(core_->pipe[0], buf, sizeof buf) > 0) {
        }
    }
#endif
    return events;
}

namespace {

// An open volume on the simulated bus; dead for good once its attachment is gone.
class SimHandle : public IPassThroughHandle {
public:
    SimHandle(std::shared_ptr<SimBus> bus, std::string name, std::shared_ptr<SimDevice> device,
              uint64_t generation)
        : bus_(std::move(bus)), name_(std::move(name)), device_(std::move(device)), generation_(generation) {}

    bool Identify(VolumeIdentity& out) override {
        if (!attached()) return false;
        out = device_->identity();
        out.location = SimBus::LocationFor(name_);
        return true;
    }

    TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) override {
        TransferResult r;
        r.residual = length;
        const uint32_t limit = device_->config().maxTransfer;
        if (IsRefusedRequest(cdb, dir, data, length) || (limit != 0 && length > limit)) {
            // Refused the way an OS refuses it (the kernel takes no request above its queue's
            // limit): nothing reaches the device.
            r.status = TransferStatus::OsError;
            r.osError = EINVAL;
            return r;
        }
        if (!attached()) {
            r.status = TransferStatus::NoDevice;
            return r;
        }
        if (length == 0) {
            dir = DataDirection::None;  // no data phase goes on the wire, whatever the direction
            data = nullptr;
        }
        r = device_->HandleCommand(cdb, dir, data, length,
                                   timeoutMs != 0 ? timeoutMs : kPassThroughTimeoutMs);
        // An accepted command moved what the device says (all of it unless a fault cut it
        // short); a refused one none of it.
        if (!r.ok()) r.residual = length;
        return r;
    }

    uint32_t MaxTransferLength() override { return device_->config().maxTransfer; }

private:
    bool attached() const { return bus_->Generation(name_) == generation_; }

    std::shared_ptr<SimBus> bus_;
    std::string name_;
    std::shared_ptr<SimDevice> device_;
    uint64_t generation_;
};

}  // namespace

SimBackend::SimBackend(std::shared_ptr<SimBus> bus) : bus_(std::move(bus)) {}

std::vector<VolumeRef> SimBackend::ListVolumes() {
    std::vector<VolumeRef> volumes;
    for (const auto& name : bus_->Names()) volumes.push_back({name, SimBus::PathFor(name)});
    return volumes;
}

DriveType SimBackend::QueryDriveType(const std::string& name, const std::string& path) {
    return path == SimBus::PathFor(name) && bus_->Find(name) ? DriveType::Removable : DriveType::NoRootDir;
}

std::unique_ptr<IPassThroughHandle> SimBackend::OpenVolume(const std::string& name, const std::string& path,
                                                           OpenError* err) {
    uint64_t generation = 0;
    auto device = bus_->Find(name, &generation);
    if (path != SimBus::PathFor(name) || !device) {
        if (err) *err = OpenError::NotFound;
        return nullptr;
    }
    if (const OpenError refused = device->Open(); refused != OpenError::None) {
        if (err) *err = refused;
        return nullptr;
    }
    if (err) *err = OpenError::None;
    return std::make_unique<SimHandle>(bus_, name, std::move(device), generation);
}

}  // namespace brev::sim
