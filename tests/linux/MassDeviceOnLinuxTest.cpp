// The portable device layer on top of the Linux backend: a fake tree end to end, and this machine.
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "device/CMutilMassStorage.h"
#include "device/MassDevice.h"
#include "tests/linux/FakeLinux.h"

namespace brev {
namespace {

using test::FakeCalls;
using test::FakeDisk;
using test::FakeSysfs;

const PatternList kVendors = {"BRVNTIS"};
const PatternList kProducts = {"DEVICE"};

// The path's limit: the smaller of the block queue's two limits and the sg driver's own answer.
TEST(MassDeviceOnLinux, TakesTheSmallestRequestLimitOfThePath) {
    const struct {
        const char* what;
        std::optional<int> hwKb, currentKb, sgBytes;
        uint32_t expected;
    } cases[] = {
        {"usb-storage default", 120, 120, std::nullopt, 120 * 1024},
        {"current below hardware", 32767, 1280, std::nullopt, 1280 * 1024},
        {"hardware below current", 512, 1280, std::nullopt, 512 * 1024},
        {"the sg driver says less", 512, 512, 65536, 65536},
        {"only the sg driver answers", std::nullopt, std::nullopt, 131072, 131072},
        {"a zero is no limit", 0, 120, 0, 120 * 1024},
        {"nothing to read", std::nullopt, std::nullopt, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSysfs fake;
        fake.Add(FakeDisk{"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg1"});
        fake.SetQueueLimits("sdb", c.hwKb, c.currentKb);
        LinuxSystem sys = fake.System();
        FakeCalls calls;
        calls.sgMaxBytes = c.sgBytes;
        calls.Install(sys);
        MassDevice device(MakeLinuxBackend(sys), fake.devRoot() + "/sdb", "sdb", kVendors, kProducts);
        ASSERT_EQ(device.Open(), 1);
        EXPECT_EQ(device.maxTransfer(), c.expected);
    }
}

TEST(MassDeviceOnLinux, FindsOpensAndTransfersThroughSgIo) {
    FakeSysfs fake;
    FakeDisk fixed{"sda", 0, false, false, "ATA     ", "SOME DISK       ", "sg0"};
    FakeDisk target{"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg1"};
    FakeDisk elsewhere{"sdc", 0, true, false, "BRVNTIS ", "DEVICE          ", "sg2"};  // not on USB
    FakeDisk wrongCase{"sdd", 0, true, true, "BrvNTIS ", "DEVICE          ", "sg3"};
    for (const auto& d : {fixed, target, elsewhere, wrongCase}) fake.Add(d);
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);
    auto backend = MakeLinuxBackend(sys);

    CMutilMassStorage scanner(backend, kProducts, kVendors);
    std::vector<PresentDevice> found;
    scanner.GetDevices(found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "sdb");
    EXPECT_EQ(found[0].devicePath, fake.devRoot() + "/sdb");
    EXPECT_EQ(found[0].productId, "DEVICE          ");
    // Every probe closed what it opened; the fixed disk was never opened.
    EXPECT_EQ(calls.opens.size(), calls.closes.size());
    for (const auto& [path, flags] : calls.opens) EXPECT_NE(path, fake.devRoot() + "/sg0");

    MassDevice device(backend, found[0].devicePath, found[0].name, kVendors, kProducts);
    ASSERT_EQ(device.Open(), 1);
    EXPECT_EQ(device.GetVendorId(), "BRVNTIS ");

    std::array<uint8_t, kCdbSize> cdb{0xFD, 0x01};
    std::array<uint8_t, 4> id{};
    calls.answer.dataIn = {0x85, 0x40, 0x16, 0x00};
    ASSERT_TRUE(device.TransferIn(cdb.data(), id.size(), id.data()));
    EXPECT_EQ(id, (std::array<uint8_t, 4>{0x85, 0x40, 0x16, 0x00}));
    EXPECT_EQ(calls.requests.back().hdr.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(calls.requests.back().cdb.at(0), 0xFD);

    ASSERT_TRUE(device.TransferOut(cdb.data(), 0, nullptr));
    EXPECT_EQ(calls.requests.back().hdr.dxfer_direction, SG_DXFER_NONE);

    // A rejected command is no success, and neither is a vanished device.
    calls.answer = {0, 0x02, 0, 0x08, {0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x20, 0x00}, {}};
    EXPECT_FALSE(device.TransferIn(cdb.data(), id.size(), id.data()));
    EXPECT_EQ(device.lastTransfer().status, TransferStatus::CheckCondition);
    EXPECT_EQ(device.lastTransfer().asc, 0x20);
    calls.answer = {ENODEV, 0, 0, 0, {}, {}};
    EXPECT_FALSE(device.TransferOut(cdb.data(), 0, nullptr));
    EXPECT_EQ(device.lastTransfer().status, TransferStatus::NoDevice);

    device.Close();
    EXPECT_EQ(calls.opens.size(), calls.closes.size());
}

// Identity is read from sysfs before any node is opened: only our devices are ever opened, and
// only their open failures reach the operator.
TEST(MassDeviceOnLinux, ScanReportsOpenProblemsOfOurDevicesOnly) {
    const struct {
        const char* what;
        FakeDisk disk;
        int openErrno;
        bool opened;
        const char* problem;  // a part of the one problem expected; null: none
    } cases[] = {
        {"ours, node not permitted",
         {"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg1"},
         EACCES,
         true,
         "70-brevload.rules"},
        {"ours, no sg node",
         {"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", ""},
         0,
         false,
         "modprobe sg"},
        {"another maker's USB disk, node not permitted",
         {"sdb", 0, true, true, "OTHERVND", "FLASH DISK      ", "sg1"},
         EACCES,
         false,
         nullptr},
        {"another maker's USB disk, no sg node",
         {"sdb", 0, true, true, "OTHERVND", "FLASH DISK      ", ""},
         0,
         false,
         nullptr},
        {"our strings on a disk off USB",
         {"sdb", 0, true, false, "BRVNTIS ", "DEVICE          ", "sg1"},
         EACCES,
         false,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSysfs fake;
        fake.Add(c.disk);
        LinuxSystem sys = fake.System();
        FakeCalls calls;
        calls.openErrno = c.openErrno;
        calls.Install(sys);

        CMutilMassStorage scanner(MakeLinuxBackend(sys), kProducts, kVendors);
        scanner.Scan();
        EXPECT_TRUE(scanner.devices().empty());
        EXPECT_EQ(calls.opens.size(), c.opened ? 1u : 0u);
        if (c.problem == nullptr) {
            EXPECT_TRUE(scanner.permissionProblems().empty());
            continue;
        }
        ASSERT_EQ(scanner.permissionProblems().size(), 1u);
        EXPECT_NE(scanner.permissionProblems()[0].find(c.problem), std::string::npos)
            << scanner.permissionProblems()[0];
    }
}

// This machine has no target device attached: the real backend must list what it finds
// without opening anything it should not and match nothing.
TEST(MassDeviceOnLinux, RealSystemHasNoMatchingDevice) {
    auto backend = MakeLinuxBackend();
    for (const VolumeRef& v : backend->ListVolumes()) {
        EXPECT_TRUE(v.name.starts_with("sd") || v.name.starts_with("sr")) << v.name;
        EXPECT_EQ(v.path, "/dev/" + v.name);
    }
    CMutilMassStorage scanner(backend, kProducts, kVendors);
    scanner.Scan();
    EXPECT_TRUE(scanner.devices().empty());
}

}  // namespace
}  // namespace brev
