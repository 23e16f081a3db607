#include <gtest/gtest.h>

#include "device/CMutilMassStorage.h"
#include "tests/device/FakeBackend.h"

namespace brev {
namespace {

using test::FakeBackend;
using test::FakeVolume;

std::vector<std::string> Names(const std::vector<PresentDevice>& list) {
    std::vector<std::string> out;
    for (const auto& d : list) out.push_back(d.name);
    return out;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Listed in the backend's order, which the scan keeps.
        fake->Add({"sdb", "/dev/sdb"});
        fake->Add({"sdc", "/dev/sdc", DriveType::Removable, {BusType::Usb, "OTHER", "DISK"}});
        fake->Add({"sdd", "/dev/sdd", DriveType::Removable, {BusType::Usb, "BRVNTIS", "COMP_AUDIO"}});
        fake->Add({"sde", "/dev/sde", DriveType::Removable, {}, true, OpenError::PermissionDenied});
        fake->Add({"sdf", "/dev/sdf", DriveType::Removable, {}, true, OpenError::Busy});
        fake->Add({"sr0", "/dev/sr0", DriveType::CdRom, {BusType::Usb, "BRVNTIS ", "DEVICE"}});
    }
    std::shared_ptr<FakeBackend> fake = std::make_shared<FakeBackend>();
};

TEST_F(ScannerTest, KeepsMatchesInListOrderWithTheirProductAndClosesEveryProbe) {
    CMutilMassStorage scanner(fake, {"DEVICE", "COMP_AUDIO"}, {"BRVNTIS"});
    EXPECT_EQ(scanner.Scan(), 0);
    ASSERT_EQ(Names(scanner.devices()), (std::vector<std::string>{"sdb", "sdd", "sr0"}));
    EXPECT_EQ(scanner.devices()[0].devicePath, "/dev/sdb");
    EXPECT_EQ(scanner.devices()[1].productId, "COMP_AUDIO");
    EXPECT_EQ(fake->counters().liveHandles, 0);
    EXPECT_EQ(fake->counters().executes, 0);  // probing sends no command
}

TEST_F(ScannerTest, GetDevicesAppendsAndEveryScanAppendsAgain) {
    CMutilMassStorage scanner(fake, {"DEVICE"}, {"BRVNTIS"});
    std::vector<PresentDevice> out{{"X", "/dev/x", ""}};
    scanner.GetDevices(out);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"X", "sdb", "sr0"}));
    scanner.GetDevices(out);
    EXPECT_EQ(Names(scanner.devices()), (std::vector<std::string>{"sdb", "sr0", "sdb", "sr0"}));
    EXPECT_EQ(out.size(), 7u);
}

TEST_F(ScannerTest, PermissionProblemsAreReportedNotSkipped) {
    CMutilMassStorage scanner(fake, {"DEVICE"}, {"BRVNTIS"});
    scanner.Scan();
    ASSERT_EQ(scanner.permissionProblems().size(), 1u);  // sdf is busy: not a permission matter
    const std::string& text = scanner.permissionProblems()[0];
    EXPECT_NE(text.find("sde"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/sde"), std::string::npos) << text;
    EXPECT_NE(text.find(fake->hint), std::string::npos) << text;
    scanner.Scan();
    EXPECT_EQ(scanner.permissionProblems().size(), 1u);  // about the last scan only
}

TEST_F(ScannerTest, EmptyProductListFindsNothing) {
    CMutilMassStorage scanner(fake, {}, {"BRVNTIS"});
    scanner.Scan();
    EXPECT_TRUE(scanner.devices().empty());
}

}  // namespace
}  // namespace brev
