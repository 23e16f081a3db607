// A device running its own firmware: the PC-mode update commands and their order.
#include <gtest/gtest.h>

#include "image/Crc16.h"
#include "tests/sim/SimHost.h"

namespace brev::sim::test {
namespace {

TEST(PcMode, ReportsItsOwnProductAndRefusesDownloadModeCommands) {
    SimDevice dev{SimDeviceConfig::PcMode()};
    Host host{dev};
    EXPECT_EQ(dev.config().product, "COMP_AUDIO      ");
    EXPECT_EQ(dev.config().vendor, "BRVNTIS ");
    EXPECT_EQ(host.Init().status, TransferStatus::CheckCondition);
    EXPECT_EQ(host.Id(cmd::ReadFlashId), std::nullopt);
    EXPECT_EQ(host.StartSpiLoader().status, TransferStatus::CheckCondition);
    EXPECT_EQ(host.None(MakeCdb(cmd::SystemReset)).status, TransferStatus::CheckCondition);
    EXPECT_EQ(host.Id(cmd::LoaderReadFlashId), std::nullopt);
}

TEST(PcMode, UpdateCommandsOutOfOrderFail) {
    SimDevice dev{SimDeviceConfig::PcMode()};
    Host host{dev};
    const auto page = Pattern(256, 4);
    EXPECT_EQ(host.Write(0, page, cmd::LoaderWrite).status, TransferStatus::CheckCondition);
    EXPECT_EQ(host.Crc(0, 256, cmd::LoaderGetCrc16), std::nullopt);
    EXPECT_EQ(host.None(MakeCdb(cmd::PcStartWrite)).status, TransferStatus::CheckCondition);

    ASSERT_TRUE(host.None(MakeCdb(cmd::PcStartErase)).ok());
    EXPECT_EQ(host.Write(0, page, cmd::LoaderWrite).status, TransferStatus::CheckCondition);
    EXPECT_EQ(dev.ReadPcUpdateArea(0, 256), std::vector<uint8_t>(256, 0xFF));
}

TEST(PcMode, EraseThenWriteThenPagesUpdatesTheArea) {
    SimDevice dev{SimDeviceConfig::PcMode()};
    Host host{dev};
    // Two updates in a row: the second only verifies because PcStartErase erased the first.
    for (uint32_t seed : {1u, 2u}) {
        SCOPED_TRACE(seed);
        const auto image = Pattern(3 * 256 + 100, seed);
        ASSERT_TRUE(host.None(MakeCdb(cmd::PcStartErase)).ok());
        ASSERT_TRUE(host.None(MakeCdb(cmd::PcStartWrite)).ok());
        for (uint32_t at = 0; at < image.size(); at += 256) {
            const std::vector<uint8_t> page(image.begin() + at,
                                            image.begin() + std::min<std::size_t>(at + 256, image.size()));
            ASSERT_TRUE(host.Write(at, page, cmd::LoaderWrite).ok());
            EXPECT_EQ(host.Crc(at, uint32_t(page.size()), cmd::LoaderGetCrc16),
                      Crc16Ccitt(page.data(), int64_t(page.size())));
        }
        EXPECT_EQ(dev.ReadPcUpdateArea(0, uint32_t(image.size())), image);
    }
}

}  // namespace
}  // namespace brev::sim::test
