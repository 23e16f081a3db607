// Hot-plug: kernel uevent datagrams to events, and the monitors' sockets.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device/linux/HotplugMonitor.h"
#include "device/linux/Uevent.h"
#include "tests/linux/FakeLinux.h"

namespace brev {
namespace {

std::string Message(std::initializer_list<const char*> fields) {
    std::string m;
    for (const char* f : fields) {
        m += f;
        m += '\0';
    }
    return m;
}

std::string AddSdb() {
    return Message(
        {"add@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
         "ACTION=add",
         "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/"
         "6:0:0:0/block/sdb",
         "SUBSYSTEM=block", "MAJOR=8", "MINOR=16", "DEVNAME=sdb", "DEVTYPE=disk", "DISKSEQ=12",
         "SEQNUM=4242"});
}

TEST(KernelUevent, DiskAddAndRemoveBecomeEvents) {
    struct Case {
        const char* what;
        std::string message;
        DeviceEvent::Kind kind;
        const char* name;
    };
    const Case cases[] = {
        {"add sdb", AddSdb(), DeviceEvent::Kind::Arrival, "sdb"},
        {"remove sdb",
         Message({"remove@/devices/x/block/sdb", "ACTION=remove", "DEVPATH=/devices/x/block/sdb",
                  "SUBSYSTEM=block", "DEVNAME=sdb", "DEVTYPE=disk", "SEQNUM=4250"}),
         DeviceEvent::Kind::Removal, "sdb"},
        {"add sr0, fields in another order",
         Message(
             {"add@/devices/x/block/sr0", "DEVTYPE=disk", "DEVNAME=sr0", "SUBSYSTEM=block", "ACTION=add"}),
         DeviceEvent::Kind::Arrival, "sr0"},
        {"add sdaa without a final NUL",
         Message({"add@/devices/x/block/sdaa", "ACTION=add", "SUBSYSTEM=block", "DEVTYPE=disk"}) +
             "DEVNAME=sdaa",
         DeviceEvent::Kind::Arrival, "sdaa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto event = ParseKernelUevent(c.message.data(), c.message.size(), "/dev");
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->kind, c.kind);
        EXPECT_EQ(event->volume.name, c.name);
        EXPECT_EQ(event->volume.path, std::string("/dev/") + c.name);
    }
}

TEST(KernelUevent, OtherMessagesAreIgnored) {
    const std::pair<const char*, std::string> cases[] = {
        {"partition sdb1", Message({"add@/devices/x/block/sdb/sdb1", "ACTION=add", "SUBSYSTEM=block",
                                    "DEVNAME=sdb1", "DEVTYPE=partition", "PARTN=1"})},
        {"USB interface", Message({"add@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", "ACTION=add",
                                   "SUBSYSTEM=usb", "DEVTYPE=usb_interface"})},
        {"scsi_generic node",
         Message({"add@/devices/x/scsi_generic/sg1", "ACTION=add", "SUBSYSTEM=scsi_generic", "DEVNAME=sg1"})},
        {"media change on sr0", Message({"change@/devices/x/block/sr0", "ACTION=change", "SUBSYSTEM=block",
                                         "DEVNAME=sr0", "DEVTYPE=disk", "DISK_MEDIA_CHANGE=1"})},
        {"loop disk", Message({"add@/devices/virtual/block/loop0", "ACTION=add", "SUBSYSTEM=block",
                               "DEVNAME=loop0", "DEVTYPE=disk"})},
        {"no header", Message({"ACTION=add", "SUBSYSTEM=block", "DEVNAME=sdb", "DEVTYPE=disk"})},
        {"udev's own format", std::string("libudev\0\xfe\xed\xca\xfe", 12) + AddSdb()},
        {"empty", std::string()},
    };
    for (const auto& [what, message] : cases) {
        EXPECT_FALSE(ParseKernelUevent(message.data(), message.size(), "/dev").has_value()) << what;
    }
}

TEST(KernelUevent, UdevNodeNamesAreReducedToKernelNames) {
    const auto event = BlockDiskEvent("add", "block", "disk", "/dev/sdc", "/tmp/dev");
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->volume.name, "sdc");
    EXPECT_EQ(event->volume.path, "/tmp/dev/sdc");
}

uint32_t PortOf(int fd) {
    sockaddr_nl addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return addr.nl_pid;
}

uint32_t GroupsOf(int fd) {
    sockaddr_nl addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return addr.nl_groups;
}

TEST(KernelUeventMonitor, IgnoresUeventsSentByAnotherProcess) {
    auto monitor = MakeKernelUeventMonitor("/dev");
    if (!monitor) GTEST_SKIP() << "no netlink uevent socket here";
    ASSERT_GE(monitor->Fd(), 0);
    EXPECT_TRUE(monitor->ReadEvents().empty());

    const int sender = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(sender, 0);
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_pid = PortOf(monitor->Fd());
    const std::string spoof = AddSdb();
    ASSERT_TRUE(ParseKernelUevent(spoof.data(), spoof.size(), "/dev").has_value());
    const ssize_t sent =
        ::sendto(sender, spoof.data(), spoof.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(sender);
    if (sent < 0) GTEST_SKIP() << "cannot send to the monitor here";

    // The datagram did arrive (the descriptor is readable), and is still not believed.
    pollfd p{monitor->Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(monitor->ReadEvents().empty());
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "the spoofed datagram was not drained";
}

TEST(HotplugMonitorChoice, KernelUeventsWithoutUdevDaemonUdevOtherwise) {
    test::FakeSysfs fake;
    LinuxSystem sys = fake.System();
    auto kernel = MakeLinuxHotplugMonitor(sys);
    if (!kernel) GTEST_SKIP() << "no netlink uevent socket here";
    EXPECT_EQ(GroupsOf(kernel->Fd()), 1u);  // the kernel's multicast group

    std::filesystem::create_directories(fake.runRoot() + "/udev");
    std::ofstream(fake.runRoot() + "/udev/control").put('\n');
    auto udev = MakeLinuxHotplugMonitor(sys);
    ASSERT_NE(udev, nullptr);
    EXPECT_NE(GroupsOf(udev->Fd()), 1u);
    EXPECT_TRUE(udev->ReadEvents().empty());
}

}  // namespace
}  // namespace brev
