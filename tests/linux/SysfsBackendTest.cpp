// Discovery, drive type, identity and opening, against a fake sysfs tree.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/linux/FakeLinux.h"

namespace brev {
namespace {

using test::FakeCalls;
using test::FakeDisk;
using test::FakeSysfs;

TEST(LinuxBackendDiscovery, ListsScsiDisksThenCdRomsInKernelOrder) {
    FakeSysfs fake;
    for (const char* name : {"sdaa", "sr10", "sdc", "sda", "sr2", "sdb", "sdz"}) {
        FakeDisk d;
        d.name = name;
        fake.Add(d);
    }
    fake.AddOther("vda");
    fake.AddOther("loop0");
    LinuxBackend backend(fake.System());

    std::vector<std::string> names, paths;
    for (const VolumeRef& v : backend.ListVolumes()) {
        names.push_back(v.name);
        paths.push_back(v.path);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"sda", "sdb", "sdc", "sdz", "sdaa", "sr2", "sr10"}));
    EXPECT_EQ(paths.at(1), fake.devRoot() + "/sdb");
    EXPECT_EQ(paths.at(5), fake.devRoot() + "/sr2");
}

TEST(LinuxBackendDiscovery, NoBlockFolderListsNothing) {
    LinuxSystem sys;
    sys.sysRoot = "/nonexistent-brev-sysfs";
    EXPECT_TRUE(LinuxBackend(sys).ListVolumes().empty());
}

struct IdentityCase {
    const char* what;
    FakeDisk disk;
    DriveType type;
    BusType bus;
};

TEST(LinuxBackendIdentity, DriveTypeBusAndUntrimmedStrings) {
    const IdentityCase cases[] = {
        {"removable USB disk",
         {"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg1"},
         DriveType::Removable,
         BusType::Usb},
        {"fixed USB disk",
         {"sdc", 0, false, true, "BRVNTIS ", "DEVICE          ", "sg2"},
         DriveType::Fixed,
         BusType::Usb},
        {"removable disk on another bus",
         {"sdd", 0, true, false, "BRVNTIS ", "DEVICE          ", "sg3"},
         DriveType::Removable,
         BusType::Other},
        {"USB CD-ROM",
         {"sr0", 5, true, true, "BRVNTIS ", "COMP_AUDIO USB  ", "sg4"},
         DriveType::CdRom,
         BusType::Usb},
        {"USB tape (another SCSI type)",
         {"sde", 1, true, true, "BRVNTIS ", "DEVICE          ", "sg5"},
         DriveType::Unknown,
         BusType::Usb},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSysfs fake;
        fake.Add(c.disk);
        LinuxSystem sys = fake.System();
        FakeCalls calls;
        calls.Install(sys);
        LinuxBackend backend(sys);
        const std::string path = fake.devRoot() + "/" + c.disk.name;

        EXPECT_EQ(backend.QueryDriveType(c.disk.name, path), c.type);
        OpenError err = OpenError::Other;
        auto handle = backend.OpenVolume(c.disk.name, path, &err);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(err, OpenError::None);
        VolumeIdentity id;
        ASSERT_TRUE(handle->Identify(id));
        EXPECT_EQ(id.bus, c.bus);
        EXPECT_EQ(id.vendor, c.disk.vendor);
        EXPECT_EQ(id.product, c.disk.product);
    }
}

// Where the disk sits: the USB device's port path and serial above it, and its two nodes.
TEST(LinuxBackendIdentity, LocationOfTheDisk) {
    FakeSysfs fake;
    FakeDisk onHub{"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg2", "A1B2C3", "1-2.3"};
    FakeDisk onAta{"sdc", 0, true, false, "BRVNTIS ", "DEVICE          ", "sg3"};
    fake.Add(onHub);
    fake.Add(onAta);
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    LinuxBackend backend(sys);
    auto location = [&](const std::string& name) {
        auto handle = backend.OpenVolume(name, fake.devRoot() + "/" + name, nullptr);
        VolumeIdentity id;
        EXPECT_TRUE(handle && handle->Identify(id));
        return id.location;
    };
    const DeviceLocation usb = location("sdb");
    EXPECT_EQ(usb.portPath, "1-2.3");
    EXPECT_EQ(usb.serial, "A1B2C3");
    EXPECT_EQ(usb.sgNode, fake.devRoot() + "/sg2");
    EXPECT_EQ(usb.blockNode, fake.devRoot() + "/sdb");
    const DeviceLocation ata = location("sdc");
    EXPECT_EQ(ata.portPath, "");
    EXPECT_EQ(ata.serial, "");
    EXPECT_EQ(ata.sgNode, fake.devRoot() + "/sg3");
}

TEST(LinuxBackendIdentity, UnknownForNamesThatAreNoScsiDisk) {
    FakeSysfs fake;
    fake.AddOther("vda");
    FakeDisk d;
    d.name = "sdb";
    fake.Add(d);
    LinuxBackend backend(fake.System());
    EXPECT_EQ(backend.QueryDriveType("vda", "/dev/vda"), DriveType::Unknown);
    EXPECT_EQ(backend.QueryDriveType("sdq", "/dev/sdq"), DriveType::Unknown);
    // A name is one path component: it must not reach another folder.
    EXPECT_EQ(backend.QueryDriveType("../block/sdb", "/dev/sdb"), DriveType::Unknown);
    EXPECT_EQ(backend.QueryDriveType("", ""), DriveType::Unknown);
    EXPECT_EQ(backend.QueryDriveType("sdb", ""), DriveType::Removable);
}

TEST(LinuxBackendIdentity, IdentifyFailsOnceTheDeviceIsUnplugged) {
    FakeSysfs fake;
    FakeDisk d;
    d.name = "sdb";
    fake.Add(d);
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    LinuxBackend backend(sys);
    auto handle = backend.OpenVolume("sdb", fake.devRoot() + "/sdb", nullptr);
    ASSERT_NE(handle, nullptr);

    fake.Remove("sdb");
    // Another device takes the name: the open handle must not lend its strings.
    FakeDisk other;
    other.name = "sdb";
    other.vendor = "OTHERVND";
    fake.Add(other);
    VolumeIdentity id;
    EXPECT_FALSE(handle->Identify(id));
}

TEST(LinuxBackendOpen, OpensTheScsiGenericNodeReadWriteAndClosesIt) {
    FakeSysfs fake;
    FakeDisk d;
    d.name = "sdb";
    d.sg = "sg7";
    fake.Add(d);
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    LinuxBackend backend(sys);

    auto handle = backend.OpenVolume("sdb", fake.devRoot() + "/sdb", nullptr);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(calls.opens.size(), 1u);
    EXPECT_EQ(calls.opens[0].first, fake.devRoot() + "/sg7");
    EXPECT_EQ(calls.opens[0].second & O_ACCMODE, O_RDWR);
    EXPECT_NE(calls.opens[0].second & O_NONBLOCK, 0);
    EXPECT_TRUE(calls.closes.empty());
    handle.reset();
    EXPECT_EQ(calls.closes, std::vector<int>{40});
}

TEST(LinuxBackendOpen, MissingScsiGenericNodeFailsWithoutOpeningAndHintsModprobe) {
    FakeSysfs fake;
    FakeDisk d;
    d.name = "sdb";
    d.sg = "";
    fake.Add(d);
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    LinuxBackend backend(sys);
    const std::string path = fake.devRoot() + "/sdb";

    OpenError err = OpenError::None;
    EXPECT_EQ(backend.OpenVolume("sdb", path, &err), nullptr);
    EXPECT_EQ(err, OpenError::NotFound);
    EXPECT_TRUE(calls.opens.empty());
    const std::string hint = backend.OpenErrorHint("sdb", path, err);
    EXPECT_NE(hint.find("modprobe sg"), std::string::npos) << hint;
    EXPECT_NE(hint.find(path), std::string::npos) << hint;
}

TEST(LinuxBackendOpen, OpenErrorsMapToPortableErrorsWithHints) {
    struct Case {
        int err;
        OpenError expected;
        std::vector<std::string> hintParts;
    };
    const Case cases[] = {
        {EACCES,
         OpenError::PermissionDenied,
         {"/sg3", "/sdb", "70-brevload.rules", "udevadm trigger", "root"}},
        {EPERM, OpenError::PermissionDenied, {"/sg3", "70-brevload.rules"}},
        {ENOENT, OpenError::NotFound, {"/sg3", "does not exist"}},
        {EBUSY, OpenError::Busy, {"/sg3"}},
        {EIO, OpenError::Other, {}},
    };
    FakeSysfs fake;
    FakeDisk d;
    d.name = "sdb";
    d.sg = "sg3";
    fake.Add(d);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::strerror(c.err));
        LinuxSystem sys = fake.System();
        FakeCalls calls;
        calls.openErrno = c.err;
        calls.Install(sys);
        LinuxBackend backend(sys);
        const std::string path = fake.devRoot() + "/sdb";
        OpenError err = OpenError::None;
        EXPECT_EQ(backend.OpenVolume("sdb", path, &err), nullptr);
        EXPECT_EQ(err, c.expected);
        EXPECT_TRUE(calls.closes.empty());
        const std::string hint = backend.OpenErrorHint("sdb", path, err);
        if (c.hintParts.empty()) {
            EXPECT_EQ(hint, "");
        }
        for (const auto& part : c.hintParts) EXPECT_NE(hint.find(part), std::string::npos) << hint;
    }
}

TEST(LinuxBackendOpen, UnknownOrUnsafeNamesAreNotFound) {
    FakeSysfs fake;
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    LinuxBackend backend(sys);
    for (const char* name : {"sdq", "..", "../sdb", ""}) {
        OpenError err = OpenError::None;
        EXPECT_EQ(backend.OpenVolume(name, "/dev/sdq", &err), nullptr) << name;
        EXPECT_EQ(err, OpenError::NotFound) << name;
    }
    EXPECT_TRUE(calls.opens.empty());
}

}  // namespace
}  // namespace brev
