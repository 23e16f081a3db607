#include "device/linux/HotplugMonitor.h"

#include <libudev.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "device/linux/LinuxBackend.h"
#include "device/linux/Uevent.h"

namespace brev {

namespace {

constexpr unsigned kKernelGroup = 1;

class KernelUeventMonitor : public IDeviceEventSource {
public:
    KernelUeventMonitor(int fd, std::string devRoot) : fd_(fd), devRoot_(std::move(devRoot)) {}
    ~KernelUeventMonitor() override { ::close(fd_); }
    KernelUeventMonitor(const KernelUeventMonitor&) = delete;
    KernelUeventMonitor& operator=(const KernelUeventMonitor&) = delete;

    int Fd() const override { return fd_; }

    std::vector<DeviceEvent> ReadEvents() override {
        std::vector<DeviceEvent> events;
        std::array<char, 8192> buffer;
        for (;;) {
            sockaddr_nl sender{};
            iovec iov{buffer.data(), buffer.size()};
            msghdr msg{};
            msg.msg_name = &sender;
            msg.msg_namelen = sizeof sender;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
            if (n < 0) {
                // ENOBUFS: the queue overflowed and some events are lost; keep reading the rest.
                if (errno == EINTR || errno == ENOBUFS) continue;
                break;
            }
            // Any local process may send to this socket; only the kernel (port 0) is believed.
            if (sender.nl_pid != 0 || (msg.msg_flags & MSG_TRUNC) != 0) continue;
            if (auto event = ParseKernelUevent(buffer.data(), static_cast<std::size_t>(n), devRoot_)) {
                events.push_back(std::move(*event));
            }
        }
        return events;
    }

private:
    int fd_;
    std::string devRoot_;
};

class UdevMonitor : public IDeviceEventSource {
public:
    UdevMonitor(udev* context, udev_monitor* monitor, std::string devRoot)
        : udev_(context), monitor_(monitor), devRoot_(std::move(devRoot)) {}
    ~UdevMonitor() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    int Fd() const override { return udev_monitor_get_fd(monitor_); }

    std::vector<DeviceEvent> ReadEvents() override {
        std::vector<DeviceEvent> events;
        // Null once nothing is pending: the monitor's socket is non-blocking.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            auto event = BlockDiskEvent(
                Text(udev_device_get_action(device)), Text(udev_device_get_subsystem(device)),
                Text(udev_device_get_devtype(device)), Text(udev_device_get_sysname(device)), devRoot_);
            udev_device_unref(device);
            if (event) events.push_back(std::move(*event));
        }
        return events;
    }

private:
    static std::string_view Text(const char* s) {
        return s != nullptr ? std::string_view(s) : std::string_view();
    }

    udev* udev_;
    udev_monitor* monitor_;
    std::string devRoot_;
};

}  // namespace

std::unique_ptr<IDeviceEventSource> MakeUdevMonitor(const std::string& devRoot) {
    udev* context = udev_new();
    if (context == nullptr) return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevMonitor>(context, monitor, devRoot);
}

std::unique_ptr<IDeviceEventSource> MakeKernelUeventMonitor(const std::string& devRoot) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return nullptr;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = kKernelGroup;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) {
        ::close(fd);
        return nullptr;
    }
    // A burst of events (a hub with several devices) should not overflow the default queue.
    const int size = 1 << 20;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return std::make_unique<KernelUeventMonitor>(fd, devRoot);
}

std::unique_ptr<IDeviceEventSource> MakeLinuxHotplugMonitor() {
    return MakeLinuxHotplugMonitor(LinuxSystem{});
}

std::unique_ptr<IDeviceEventSource> MakeLinuxHotplugMonitor(const LinuxSystem& sys) {
    std::error_code ec;
    if (std::filesystem::exists(sys.runRoot + "/udev/control", ec)) {
        if (auto monitor = MakeUdevMonitor(sys.devRoot)) return monitor;
    }
    return MakeKernelUeventMonitor(sys.devRoot);
}

}  // namespace brev
