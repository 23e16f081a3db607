#include <gtest/gtest.h>

#include "device/CommandSet.h"
#include "device/MassDevice.h"
#include "tests/device/FakeBackend.h"

namespace brev {
namespace {

using test::FakeBackend;
using test::FakeVolume;
using test::Short;
using test::Status;

struct MatchCase {
    const char* what;
    DriveType drive;
    BusType bus;
    const char* vendor;
    const char* product;
    PatternList vendorPatterns;
    PatternList productPatterns;
    bool matches;
};

TEST(MassDeviceOpen, MatchesOnlyUsbRemovableVolumesWhoseStringsContainAPattern) {
    const PatternList v{"BRVNTIS"};
    const PatternList p{"DEVICE"};
    const auto R = DriveType::Removable;
    const auto U = BusType::Usb;
    const MatchCase cases[] = {
        {"padded strings", R, U, "BRVNTIS ", "DEVICE          ", v, p, true},
        {"text before product", R, U, "BRVNTIS ", "MY DEVICE", v, p, true},
        {"cd-rom", DriveType::CdRom, U, "BRVNTIS", "DEVICE", v, p, true},
        {"vendor case differs", R, U, "Brvntis ", "DEVICE", v, p, false},
        {"product case differs", R, U, "BRVNTIS", "Device", v, p, false},
        {"empty product", R, U, "BRVNTIS", "", v, p, false},
        {"empty vendor", R, U, "", "DEVICE", v, {"DEVICE"}, false},
        {"empty vendor, empty pattern", R, U, "", "DEVICE", {""}, p, false},
        {"not on USB", R, BusType::Other, "BRVNTIS", "DEVICE", v, p, false},
        {"fixed disk", DriveType::Fixed, U, "BRVNTIS", "DEVICE", v, p, false},
        {"network drive", DriveType::Remote, U, "BRVNTIS", "DEVICE", v, p, false},
        {"vendor (NULL)", R, U, "(NULL)", "DEVICE", v, p, false},
        {"vendor (NULL), pattern in it", R, U, "(NULL)", "DEVICE", {"NULL"}, p, true},
        {"no product patterns", R, U, "BRVNTIS", "DEVICE", v, {}, false},
        {"no vendor patterns", R, U, "BRVNTIS", "DEVICE", {}, p, false},
        {"empty product pattern", R, U, "BRVNTIS", "ANYTHING", v, {""}, true},
        {"second product pattern", R, U, "BRVNTIS", "COMP_AUDIO", v, {"DEVICE", "COMP_AUDIO", "USB"}, true},
        {"second vendor pattern", R, U, "OTHER", "DEVICE", {"BRVNTIS", "OTH"}, p, true},
    };
    for (const auto& c : cases) {
        auto fake = std::make_shared<FakeBackend>();
        FakeVolume vol{"E", "\\\\.\\E:", c.drive, {c.bus, c.vendor, c.product}};
        fake->Add(vol);
        MassDevice dev(fake, vol.path, vol.name, c.vendorPatterns, c.productPatterns);
        EXPECT_EQ(dev.Open(), c.matches ? 1 : 0) << c.what;
        EXPECT_EQ(dev.isOpen(), c.matches) << c.what;
        EXPECT_EQ(fake->counters().liveHandles, c.matches ? 1 : 0) << c.what << ": handle left open";
        if (c.drive != DriveType::Removable && c.drive != DriveType::CdRom) {
            EXPECT_EQ(fake->counters().opens, 0) << c.what << ": only candidates are opened";
        }
    }
}

TEST(MassDeviceOpen, PcModeProducts) {
    EXPECT_TRUE(IsPcModeProduct("COMP_AUDIO      "));
    EXPECT_TRUE(IsPcModeProduct("MY USB SPEAKER"));
    EXPECT_FALSE(IsPcModeProduct("DEVICE          "));
    EXPECT_FALSE(IsPcModeProduct("usb comp_audio"));
}

class MassDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { fake->Add({"sdb", "/dev/sdb"}); }
    std::unique_ptr<MassDevice> Make(const std::string& name = "sdb") {
        return std::make_unique<MassDevice>(fake, "/dev/" + name, name, PatternList{"BRVNTIS"},
                                            PatternList{"DEVICE"});
    }
    std::shared_ptr<FakeBackend> fake = std::make_shared<FakeBackend>();
    Cdb cdb = cmd::ReadFlashIdBlock();
};

TEST_F(MassDeviceTest, OpenTwiceDoesNotTouchTheBackendAndCloseThenOpenProbesAgain) {
    auto dev = Make();
    ASSERT_EQ(dev->Open(), 1);
    const auto first = fake->counters();
    EXPECT_EQ(dev->Open(), 1);
    const auto second = fake->counters();
    EXPECT_EQ(second.driveTypeQueries, first.driveTypeQueries);
    EXPECT_EQ(second.opens, first.opens);
    EXPECT_EQ(second.identifies, first.identifies);

    dev->Close();
    EXPECT_FALSE(dev->isOpen());
    EXPECT_EQ(fake->counters().liveHandles, 0);
    EXPECT_EQ(dev->GetVendorId(), "BRVNTIS ");  // identity stays after Close
    EXPECT_EQ(dev->GetProductId(), "DEVICE          ");
    EXPECT_EQ(dev->Open(), 1);
    EXPECT_EQ(fake->counters().opens, first.opens + 1);
}

TEST_F(MassDeviceTest, DestructionClosesAnOpenDevice) {
    {
        auto dev = Make();
        ASSERT_EQ(dev->Open(), 1);
        EXPECT_EQ(fake->counters().liveHandles, 1);
    }
    EXPECT_EQ(fake->counters().liveHandles, 0);
}

TEST_F(MassDeviceTest, OpenFailuresKeepTheReasonAndTheHint) {
    fake->Add({"sdc", "/dev/sdc", DriveType::Removable, {}, true, OpenError::PermissionDenied});
    fake->Add({"sdd", "/dev/sdd", DriveType::Removable, {}, false});  // identification fails
    auto denied = Make("sdc");
    EXPECT_EQ(denied->Open(), 0);
    EXPECT_EQ(denied->lastOpenError(), OpenError::PermissionDenied);
    EXPECT_EQ(denied->openErrorHint(), fake->hint);

    auto silent = Make("sdd");
    EXPECT_EQ(silent->Open(), 0);
    EXPECT_EQ(silent->lastOpenError(), OpenError::None);
    EXPECT_EQ(silent->openErrorHint(), "");
    EXPECT_EQ(fake->counters().liveHandles, 0);

    const int queries = fake->counters().driveTypeQueries;
    MassDevice noPath(fake, "", "sdb", {"BRVNTIS"}, {"DEVICE"});
    EXPECT_EQ(noPath.Open(), 0);
    EXPECT_EQ(fake->counters().driveTypeQueries, queries);
}

TEST_F(MassDeviceTest, TransferOnAClosedDeviceSendsNothing) {
    auto dev = Make();
    uint8_t buf[4];
    EXPECT_FALSE(dev->TransferIn(cdb.data(), 4, buf));
    EXPECT_EQ(dev->lastTransfer().status, TransferStatus::NotOpen);
    ASSERT_EQ(dev->Open(), 1);
    dev->Close();
    EXPECT_FALSE(dev->TransferOut(cdb.data(), 0, nullptr));
    EXPECT_EQ(fake->counters().executes, 0);
}

TEST_F(MassDeviceTest, TransfersCarryDirectionLengthAndTimeout) {
    auto dev = Make();
    ASSERT_EQ(dev->Open(), 1);
    uint8_t buf[4] = {};
    EXPECT_TRUE(dev->TransferIn(cdb.data(), 4, buf));
    EXPECT_TRUE(dev->TransferOut(cdb.data(), 4, buf));
    EXPECT_TRUE(dev->TransferOut(cdb.data(), 0, nullptr));
    // A data buffer that is missing is refused here, not handed to the driver.
    EXPECT_FALSE(dev->TransferIn(cdb.data(), 4, nullptr));

    const auto sent = fake->sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].dir, DataDirection::In);
    EXPECT_EQ(sent[0].length, 4u);
    EXPECT_EQ(sent[1].dir, DataDirection::Out);
    EXPECT_EQ(sent[2].dir, DataDirection::None);
    EXPECT_EQ(sent[2].length, 0u);
    EXPECT_TRUE(sent[2].dataNull);
    for (const auto& s : sent) {
        EXPECT_EQ(s.timeoutMs, kPassThroughTimeoutMs);
        EXPECT_EQ(s.cdb, cdb);
    }
}

TEST_F(MassDeviceTest, EveryTransferFailureIsReportedAsFailure) {
    struct Case {
        TransferResult answer;
        TransferStatus seen;
    } cases[] = {
        {Status(TransferStatus::CheckCondition, 0x02), TransferStatus::CheckCondition},
        {Status(TransferStatus::Ok, 0x02), TransferStatus::CheckCondition},  // status byte not GOOD
        {Status(TransferStatus::Ok, 0x08), TransferStatus::CheckCondition},  // BUSY
        {Status(TransferStatus::HostError), TransferStatus::HostError},
        {Status(TransferStatus::Timeout), TransferStatus::Timeout},
        {Status(TransferStatus::NoDevice), TransferStatus::NoDevice},
        {Status(TransferStatus::OsError), TransferStatus::OsError},
        {Short(2), TransferStatus::ShortTransfer},  // GOOD, but 2 of the bytes never moved
    };
    auto dev = Make();
    ASSERT_EQ(dev->Open(), 1);
    uint8_t buf[4] = {};
    for (const auto& c : cases) {
        fake->SetHandler("sdb", [&](const uint8_t*, DataDirection, uint8_t*, uint32_t) { return c.answer; });
        const std::string what = TransferStatusText(c.seen);
        EXPECT_FALSE(dev->TransferIn(cdb.data(), 4, buf)) << what;
        EXPECT_EQ(dev->lastTransfer().status, c.seen) << what;
        EXPECT_FALSE(dev->TransferOut(cdb.data(), 4, buf)) << what;
        EXPECT_FALSE(dev->TransferOut(cdb.data(), 0, nullptr)) << what;
    }
    fake->SetHandler("sdb", nullptr);
    EXPECT_TRUE(dev->TransferIn(cdb.data(), 4, buf));
    EXPECT_EQ(dev->lastTransfer().status, TransferStatus::Ok);
}

}  // namespace
}  // namespace brev
