// Flash contents kept in files, and the time the device takes.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "tests/sim/SimHost.h"

namespace brev::sim::test {
namespace {

SimDeviceConfig Small() {
    SimDeviceConfig c;
    c.norSize = 64 * 1024;
    c.exFlashSize = 32 * 1024;
    return c;
}

TEST(Persistence, FlashContentsRoundTripThroughFiles) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / "brev_sim_persistence";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto nor = Pattern(64 * 1024, 1), ex = Pattern(32 * 1024, 2);
    {
        SimDevice dev{Small()};
        ASSERT_TRUE(dev.WriteNorRaw(0, nor));
        ASSERT_TRUE(dev.WriteExFlashRaw(0, ex));
        ASSERT_TRUE(dev.SaveNor(dir / "nor.bin"));
        ASSERT_TRUE(dev.SaveExFlash(dir / "ex.bin"));
    }
    SimDevice dev{Small()};
    EXPECT_TRUE(dev.LoadNor(dir / "nor.bin"));
    EXPECT_TRUE(dev.LoadExFlash(dir / "ex.bin"));
    EXPECT_EQ(dev.ReadNor(0, 64 * 1024), nor);
    EXPECT_EQ(dev.ReadExFlash(0, 32 * 1024), ex);

    // A file of another size is refused and changes nothing; a missing one loads nothing.
    SimDevice fresh{Small()};
    EXPECT_FALSE(fresh.LoadNor(dir / "ex.bin"));
    EXPECT_TRUE(fresh.LoadNor(dir / "missing.bin"));
    EXPECT_EQ(fresh.ReadNor(0, 64 * 1024), std::vector<uint8_t>(64 * 1024, 0xFF));
    EXPECT_FALSE(fresh.SaveNor(dir / "no-such-dir" / "nor.bin"));
    std::filesystem::remove_all(dir);
}

TEST(Timing, TheRealisticProfileTakesTime) {
    SimDevice dev{Small()};
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    dev.SetTiming(TimingProfile::Realistic(0.05));
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t addr = 0; addr < 64 * 1024; addr += 0x1000)
        ASSERT_TRUE(host.None(MakeCdb(cmd::Erase4K, 0, addr)).ok());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // 16 erases of 45 ms each, scaled by 0.05: 36 ms. A whole-millisecond timer (Windows) may
    // return a short sleep early; the device then owes the time to its next command, so at most
    // the last command's remainder (under 1 ms) is missing here.
    EXPECT_GE(elapsed, std::chrono::microseconds(35'000));
}

TEST(Timing, ACommandLongerThanTheTimeOutRunsButTimesOut) {
    SimDevice dev{Small()};
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    ASSERT_TRUE(dev.WriteNorRaw(0, std::vector<uint8_t>(16, 0)));
    dev.SetTiming(TimingProfile::Realistic());  // a chip erase takes 2 s
    const auto b = MakeCdb(cmd::EraseChip);
    const auto r = dev.HandleCommand(b.data(), DataDirection::None, nullptr, 0, 5);
    EXPECT_EQ(r.status, TransferStatus::Timeout);
    EXPECT_EQ(dev.ReadNor(0, 16), std::vector<uint8_t>(16, 0xFF));
}

}  // namespace
}  // namespace brev::sim::test
