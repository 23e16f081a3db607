#include "device/linux/Uevent.h"

#include "device/linux/Sysfs.h"

namespace brev {

std::optional<DeviceEvent> BlockDiskEvent(std::string_view action, std::string_view subsystem,
                                          std::string_view devtype, std::string_view devname,
                                          const std::string& devRoot) {
    if (subsystem != "block" || devtype != "disk") return std::nullopt;
    DeviceEvent event;
    if (action == "add") {
        event.kind = DeviceEvent::Kind::Arrival;
    } else if (action == "remove") {
        event.kind = DeviceEvent::Kind::Removal;
    } else {
        return std::nullopt;
    }
    const std::size_t slash = devname.rfind('/');
    std::string name(slash == std::string_view::npos ? devname : devname.substr(slash + 1));
    if (!sysfs::IsScsiDiskName(name)) return std::nullopt;
    event.volume.path = devRoot + "/" + name;
    event.volume.name = std::move(name);
    return event;
}

std::optional<DeviceEvent> ParseKernelUevent(const char* data, std::size_t length,
                                             const std::string& devRoot) {
    if (data == nullptr) return std::nullopt;
    const std::string_view message(data, length);
    std::string_view action, subsystem, devtype, devname;
    bool first = true;
    for (std::size_t at = 0; at < message.size();) {
        std::size_t end = message.find('\0', at);
        if (end == std::string_view::npos) end = message.size();
        const std::string_view field = message.substr(at, end - at);
        at = end + 1;
        if (first) {
            first = false;
            // Kernel messages start with "action@devpath"; anything else (udev's own
            // binary format, stray datagrams) is not ours.
            if (field.find('@') == std::string_view::npos) return std::nullopt;
            continue;
        }
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = field.substr(0, eq), value = field.substr(eq + 1);
        if (key == "ACTION") {
            action = value;
        } else if (key == "SUBSYSTEM") {
            subsystem = value;
        } else if (key == "DEVTYPE") {
            devtype = value;
        } else if (key == "DEVNAME") {
            devname = value;
        }
    }
    return BlockDiskEvent(action, subsystem, devtype, devname, devRoot);
}

}  // namespace brev
