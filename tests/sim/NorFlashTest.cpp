// The chip's own NOR flash and its command guard.
#include <gtest/gtest.h>

#include "image/Crc16.h"
#include "tests/sim/SimHost.h"

namespace brev::sim::test {
namespace {

constexpr uint32_t kSize = 256u << 10;

class NorFlash : public ::testing::Test {
protected:
    SimDevice dev{[] {
        SimDeviceConfig c;
        c.norSize = kSize;
        return c;
    }()};
    Host host{dev};
};

TEST_F(NorFlash, EraseClearsExactlyTheAlignedUnitContainingTheAddress) {
    struct Case {
        uint8_t sub;
        uint32_t unit;
    };
    for (const Case c :
         {Case{cmd::Erase4K, 0x1000}, Case{cmd::Erase32K, 0x8000}, Case{cmd::Erase64K, 0x10000}}) {
        SCOPED_TRACE(int(c.sub));
        ASSERT_TRUE(dev.WriteNorRaw(0, std::vector<uint8_t>(kSize, 0x00)));
        ASSERT_TRUE(host.Init().ok());
        const uint32_t base = 2 * c.unit;
        ASSERT_TRUE(host.None(MakeCdb(c.sub, 0, base + c.unit / 2 + 3)).ok());
        EXPECT_EQ(dev.ReadNor(base, c.unit), std::vector<uint8_t>(c.unit, 0xFF));
        EXPECT_EQ(dev.ReadNor(base - 1, 1)[0], 0x00);
        EXPECT_EQ(dev.ReadNor(base + c.unit, 1)[0], 0x00);
    }
    ASSERT_TRUE(host.None(MakeCdb(cmd::EraseChip)).ok());
    EXPECT_EQ(dev.ReadNor(0, kSize), std::vector<uint8_t>(kSize, 0xFF));
}

TEST_F(NorFlash, ProgrammingOnlyClearsBitsSoOverwritingNeedsAnErase) {
    ASSERT_TRUE(host.Init().ok());
    const auto a = Pattern(4096, 1), b = Pattern(4096, 2);
    ASSERT_TRUE(host.Write(0x3000, a).ok());
    EXPECT_EQ(host.Crc(0x3000, 4096), Crc16Ccitt(a.data(), 4096));
    std::vector<uint8_t> read(4096);
    ASSERT_TRUE(host.In(MakeCdb(cmd::Read, 4096, 0x3000), read).ok());
    EXPECT_EQ(read, a);

    // Writing again without an erase leaves old & new, and the CRC shows it.
    ASSERT_TRUE(host.Write(0x3000, b, cmd::WriteByte).ok());
    std::vector<uint8_t> anded(4096);
    for (std::size_t i = 0; i < anded.size(); ++i) anded[i] = a[i] & b[i];
    EXPECT_EQ(dev.ReadNor(0x3000, 4096), anded);
    EXPECT_NE(host.Crc(0x3000, 4096), Crc16Ccitt(b.data(), 4096));

    ASSERT_TRUE(host.None(MakeCdb(cmd::Erase4K, 0, 0x3000)).ok());
    ASSERT_TRUE(host.Write(0x3000, b).ok());
    EXPECT_EQ(host.Crc(0x3000, 4096), Crc16Ccitt(b.data(), 4096));
    ASSERT_TRUE(host.In(MakeCdb(cmd::FastRead, 4096, 0x3000), read).ok());
    EXPECT_EQ(read, b);
}

TEST_F(NorFlash, FlashCommandsNeedInitAgainAfterEveryReset) {
    std::vector<uint8_t> four(4), two(2), page(256, 0);
    const auto flashCommands = [&] {
        return std::vector<TransferResult>{
            host.In(MakeCdb(cmd::ReadFlashId, 4), four), host.Write(0, page),
            host.Write(0, page, cmd::WriteByte),         host.None(MakeCdb(cmd::Erase4K)),
            host.None(MakeCdb(cmd::Erase32K)),           host.None(MakeCdb(cmd::Erase64K)),
            host.None(MakeCdb(cmd::EraseChip)),          host.In(MakeCdb(cmd::Read, 4, 0), four),
            host.In(MakeCdb(cmd::FastRead, 4, 0), four), host.In(MakeCdb(cmd::GetCrc16, 4, 0), two)};
    };
    for (const auto& r : flashCommands()) EXPECT_EQ(r.status, TransferStatus::CheckCondition);

    ASSERT_TRUE(host.None(MakeCdb(cmd::Init, 0x0C)).ok());
    EXPECT_EQ(dev.initBytes()[0], 0x0C);
    for (const auto& r : flashCommands()) EXPECT_TRUE(r.ok()) << TransferStatusText(r.status);

    ASSERT_TRUE(host.None(MakeCdb(cmd::SystemReset)).ok());
    EXPECT_EQ(dev.resetCount(), 1);
    for (const auto& r : flashCommands()) EXPECT_EQ(r.status, TransferStatus::CheckCondition);
}

TEST_F(NorFlash, AnswersItsIdentityVersionAndKey) {
    ASSERT_TRUE(host.Init().ok());
    std::vector<uint8_t> answer(4);
    ASSERT_TRUE(host.In(MakeCdb(cmd::ReadFlashId, 4), answer).ok());
    EXPECT_EQ(answer, (std::vector<uint8_t>{0xEF, 0x40, 0x16, 0x00}));
    EXPECT_EQ(host.Id(cmd::ReadChipVer), dev.config().chipVersion);

    Block set = MakeCdb(cmd::SetKey);
    set[2] = 1, set[3] = 0x2D, set[4] = 0x7B;
    ASSERT_TRUE(host.None(set).ok());
    EXPECT_TRUE(dev.keySet());
    EXPECT_EQ(dev.key(), cmd::kDeviceKey);
    ASSERT_TRUE(host.None(MakeCdb(cmd::SetKey)).ok());
    EXPECT_FALSE(dev.keySet());
}

TEST_F(NorFlash, RecordsTheBlocksItReceivesWhenAsked) {
    EXPECT_EQ(host.Init().status, TransferStatus::Ok);
    dev.SetRecording(true);
    ASSERT_TRUE(host.Init().ok());
    EXPECT_EQ(host.Write(kSize, {1, 2, 3}).status, TransferStatus::CheckCondition);
    const auto record = dev.Recorded();
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0].cdb, MakeCdb(cmd::Init, 9));
    EXPECT_EQ(record[0].dir, DataDirection::None);
    EXPECT_EQ(record[1].cdb, MakeCdb(cmd::WritePage, 3, kSize));
    EXPECT_EQ(record[1].dir, DataDirection::Out);
    EXPECT_EQ(record[1].length, 3u);
    EXPECT_EQ(record[1].status, TransferStatus::CheckCondition);
}

TEST_F(NorFlash, RejectsOutOfRangeAddressesWithoutTouchingTheFlash) {
    ASSERT_TRUE(host.Init().ok());
    std::vector<uint8_t> one(1), two(2);
    const std::vector<TransferResult> results = {
        host.Write(kSize - 1, {0, 0}),
        host.Write(0xFFFFFFFFu, {0, 0}),  // would wrap around in 32 bits
        host.In(MakeCdb(cmd::Read, 1, kSize), one),
        host.In(MakeCdb(cmd::GetCrc16, kSize + 1, 0), two),
        host.In(MakeCdb(cmd::GetCrc16, 2, 0xFFFFFFFFu), two),
        host.None(MakeCdb(cmd::Erase4K, 0, kSize)),
    };
    for (const auto& r : results) {
        EXPECT_EQ(r.status, TransferStatus::CheckCondition);
        EXPECT_EQ(r.senseKey, 0x05);
    }
    EXPECT_EQ(dev.ReadNor(0, kSize), std::vector<uint8_t>(kSize, 0xFF));
    EXPECT_EQ(host.Crc(kSize - 2, 2), Crc16Ccitt(std::vector<uint8_t>(2, 0xFF).data(), 2));
}

TEST_F(NorFlash, RejectsBlocksThatDoNotFitTheirCommand) {
    ASSERT_TRUE(host.Init().ok());
    std::vector<uint8_t> buf(8, 0);
    const auto send = [&](Block b, DataDirection dir, uint32_t length) {
        return dev.HandleCommand(b.data(), dir, length ? buf.data() : nullptr, length);
    };
    auto withByte = [](Block b, int at, uint8_t v) {
        b[at] = v;
        return b;
    };
    struct Case {
        const char* what;
        Block cdb;
        DataDirection dir;
        uint32_t length;
    };
    const Case cases[] = {
        {"group bits missing", withByte(MakeCdb(cmd::ReadFlashId, 4), 0, 0x80), DataDirection::In, 4},
        {"unknown sub-command", MakeCdb(0x42), DataDirection::None, 0},
        {"ReadFlashId with 2 bytes", MakeCdb(cmd::ReadFlashId, 4), DataDirection::In, 2},
        {"ReadFlashId len field 8", MakeCdb(cmd::ReadFlashId, 8), DataDirection::In, 4},
        {"WritePage as data-in", MakeCdb(cmd::WritePage, 8), DataDirection::In, 8},
        {"WritePage length differs", MakeCdb(cmd::WritePage, 8), DataDirection::Out, 4},
        {"Read length differs", MakeCdb(cmd::Read, 4), DataDirection::In, 8},
        {"Read as data-out", MakeCdb(cmd::Read, 4), DataDirection::Out, 4},
        {"GetCrc16 with 4 bytes", MakeCdb(cmd::GetCrc16, 16), DataDirection::In, 4},
        {"Erase4K with data", MakeCdb(cmd::Erase4K), DataDirection::Out, 8},
        {"Erase4K with a length", MakeCdb(cmd::Erase4K, 16), DataDirection::None, 0},
        {"reserved byte set", withByte(MakeCdb(cmd::EraseChip), 12, 1), DataDirection::None, 0},
        {"Init with a sixth parameter", withByte(MakeCdb(cmd::Init, 9), 7, 1), DataDirection::None, 0},
        {"Execute at an even address", MakeCdb(cmd::Execute, 0, cmd::kSpiLoaderExecAddr - 1),
         DataDirection::None, 0},
        {"SetKey with mode 2", withByte(MakeCdb(cmd::SetKey), 2, 2), DataDirection::None, 0},
        {"SetKey clear with a key", withByte(MakeCdb(cmd::SetKey), 3, 0x2D), DataDirection::None, 0},
        {"PcStartErase in download mode", MakeCdb(cmd::PcStartErase), DataDirection::None, 0},
        {"PcStartWrite in download mode", MakeCdb(cmd::PcStartWrite), DataDirection::None, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(send(c.cdb, c.dir, c.length).status, TransferStatus::CheckCondition);
    }
    EXPECT_EQ(dev.HandleCommand(nullptr, DataDirection::None, nullptr, 0).status,
              TransferStatus::CheckCondition);
    EXPECT_EQ(dev.ReadNor(0, 8), std::vector<uint8_t>(8, 0xFF));
}

}  // namespace
}  // namespace brev::sim::test
