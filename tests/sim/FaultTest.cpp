// Injected faults: each kind breaks the operation it is meant to break, and only that one.
#include <gtest/gtest.h>

#include "image/Crc16.h"
#include "tests/sim/SimHost.h"

namespace brev::sim::test {
namespace {

using S = TransferStatus;

// Two verified block writes: Init, then erase, write and checksum per block.
struct Outcome {
    std::vector<S> statuses;
    std::vector<bool> verified;  // per block: the device's CRC equals the data's
};

Outcome TwoVerifiedBlocks(SimDevice& dev) {
    Host host{dev};
    Outcome out;
    out.statuses.push_back(host.Init().status);
    for (uint32_t block = 0; block < 2; ++block) {
        const uint32_t addr = block * 0x1000;
        const auto data = Pattern(256, block + 1);
        out.statuses.push_back(host.None(MakeCdb(cmd::Erase4K, 0, addr)).status);
        out.statuses.push_back(host.Write(addr, data).status);
        std::vector<uint8_t> answer(2);
        const auto r = host.In(MakeCdb(cmd::GetCrc16, 256, addr), answer);
        out.statuses.push_back(r.status);
        out.verified.push_back(r.ok() &&
                               uint16_t(answer[0] | answer[1] << 8) == Crc16Ccitt(data.data(), 256));
    }
    return out;
}

TEST(Faults, EachKindBreaksTheRightStep) {
    const auto swapped = [] {
        FaultConfig f;
        f.crcByteSwap = true;
        return f;
    };
    const struct {
        const char* what;
        FaultConfig faults;
        std::vector<S> statuses;  // Init, then Erase4K, WritePage, GetCrc16 for each block
        std::vector<bool> verified;
    } cases[] = {
        {"none", {}, {S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok}, {true, true}},
        {"second WritePage fails",
         {.failSubCommand = cmd::WritePage, .failNth = 2},
         {S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::CheckCondition, S::Ok},
         {true, false}},
        {"first Erase4K fails",
         {.failSubCommand = cmd::Erase4K, .failNth = 1},
         {S::Ok, S::CheckCondition, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok},
         {true, true}},  // the block was blank anyway
        {"CRC bytes swapped", swapped(), {S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok}, {false, false}},
        {"bit flipped in the second write",
         {.flipBitInWriteNth = 2},
         {S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok, S::Ok},
         {true, false}},
        {"off the bus after 3 commands",
         {.dropAfterCommands = 3},
         {S::Ok, S::Ok, S::Ok, S::NoDevice, S::NoDevice, S::NoDevice, S::NoDevice},
         {false, false}},
        {"third command times out",
         {.timeoutNth = 3},
         {S::Ok, S::Ok, S::Timeout, S::Ok, S::Ok, S::Ok, S::Ok},
         {false, true}},  // the write never ran
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimDeviceConfig config;
        config.faults = c.faults;
        SimDevice dev{config};
        const auto out = TwoVerifiedBlocks(dev);
        EXPECT_EQ(out.statuses, c.statuses);
        EXPECT_EQ(out.verified, c.verified);
    }
}

TEST(Faults, SetLaterTheyCountFromThenOn) {
    SimDevice dev;
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    ASSERT_TRUE(host.Write(0, Pattern(16, 1)).ok());
    dev.SetFaults({.failSubCommand = cmd::WritePage,
                   .failNth = 1,
                   .crcByteSwap = false,
                   .flipBitInWriteNth = 0,
                   .dropAfterCommands = 2});
    EXPECT_EQ(host.Write(0x100, Pattern(16, 2)).status, S::CheckCondition);
    EXPECT_TRUE(host.Write(0x200, Pattern(16, 3)).ok());
    EXPECT_TRUE(dev.offBus());
    EXPECT_EQ(host.Init().status, S::NoDevice);

    dev.PowerCycle();  // plugged in again: back on the bus, counting from zero
    dev.SetFaults({});
    EXPECT_FALSE(dev.offBus());
    EXPECT_TRUE(host.Init().ok());
    EXPECT_EQ(dev.ReadNor(0x200, 16), Pattern(16, 3));
}

TEST(Faults, ByteSwapAppliesToLoaderChecksumsToo) {
    SimDeviceConfig config = SimDeviceConfig::PcMode();
    config.faults.crcByteSwap = true;
    SimDevice dev{config};
    Host host{dev};
    ASSERT_TRUE(host.None(MakeCdb(cmd::PcStartErase)).ok());
    ASSERT_TRUE(host.None(MakeCdb(cmd::PcStartWrite)).ok());
    const auto page = Pattern(256, 5);
    ASSERT_TRUE(host.Write(0, page, cmd::LoaderWrite).ok());
    const uint16_t crc = Crc16Ccitt(page.data(), 256);
    EXPECT_EQ(host.Crc(0, 256, cmd::LoaderGetCrc16), uint16_t(crc << 8 | crc >> 8));
}

// A short data-in: the command runs, GOOD comes back with the residual, and the tail is zeros.
TEST(Faults, AShortDataInMovesOnlyTheFirstBytes) {
    SimDevice dev;
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    const auto flash = Pattern(64, 5);
    dev.WriteNorRaw(0, flash);
    FaultConfig faults;
    faults.shortIn = true;
    faults.shortSubCommand = cmd::Read;
    faults.shortBytes = 10;
    dev.SetFaults(faults);

    std::vector<uint8_t> buffer(64, 0xEE);
    const auto r = host.In(MakeCdb(cmd::Read, 64, 0), buffer);
    EXPECT_EQ(r.status, TransferStatus::Ok);
    EXPECT_EQ(r.residual, 54u);
    EXPECT_EQ(CheckedResult(r).status, TransferStatus::ShortTransfer);
    std::vector<uint8_t> expected(flash.begin(), flash.begin() + 10);
    expected.resize(64, 0);
    EXPECT_EQ(buffer, expected);

    // Other sub-commands and requests no longer than BYTES move in full.
    std::vector<uint8_t> id(4);
    EXPECT_EQ(host.In(MakeCdb(cmd::ReadFlashId, 4), id).residual, 0u);
    std::vector<uint8_t> few(10);
    EXPECT_EQ(host.In(MakeCdb(cmd::Read, 10, 0), few).residual, 0u);
    EXPECT_EQ(few, std::vector<uint8_t>(flash.begin(), flash.begin() + 10));
}

TEST(Faults, ReadFlashIdCanBeFailed) {
    SimDevice dev;
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    dev.SetFaults({.failSubCommand = cmd::ReadFlashId, .failNth = 1});
    EXPECT_EQ(host.Id(cmd::ReadFlashId), std::nullopt);
    EXPECT_EQ(host.Id(cmd::ReadFlashId), 0x1640EFu);
}

}  // namespace
}  // namespace brev::sim::test
