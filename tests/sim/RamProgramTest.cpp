// RAM programs: the SPI loader with its pin block, the reset program, and what the chip refuses to run.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "image/Crc16.h"
#include "tests/sim/SimHost.h"

namespace brev::sim::test {
namespace {

std::vector<uint8_t> WithPin(std::vector<uint8_t> program, int field, int32_t value) {
    Put32(&program[4 * field], uint32_t(value));
    return program;
}

std::vector<uint8_t> ResetPayload() {
    const auto file = StandInResetProgram();
    return {file.begin() + 256, file.end()};
}

TEST(SpiLoader, WithTheWiredPinsReachesTheExternalFlash) {
    SimDevice dev;
    Host host{dev};
    // Loader commands mean nothing until the loader runs.
    EXPECT_EQ(host.Id(cmd::LoaderReadFlashId), std::nullopt);
    EXPECT_EQ(host.None(MakeCdb(cmd::LoaderErase4K)).status, TransferStatus::CheckCondition);

    ASSERT_TRUE(host.StartSpiLoader().ok());  // no Init needed on this path
    EXPECT_TRUE(dev.spiLoaderRunning());
    EXPECT_EQ(dev.loaderPins(), dev.config().exFlashWiring);
    EXPECT_EQ(host.Id(cmd::LoaderReadFlashId), 0xEF4016u << 8 | kLoaderIdLowByte);

    ASSERT_TRUE(dev.WriteExFlashRaw(0x2000, std::vector<uint8_t>(0x2000, 0x00)));
    const auto data = Pattern(4096, 7);
    ASSERT_TRUE(host.None(MakeCdb(cmd::LoaderErase4K, 0, 0x2000 + 100)).ok());
    ASSERT_TRUE(host.Write(0x2000, data, cmd::LoaderWrite).ok());
    EXPECT_EQ(host.Crc(0x2000, 4096, cmd::LoaderGetCrc16), Crc16Ccitt(data.data(), 4096));
    EXPECT_EQ(dev.ReadExFlash(0x2000, 4096), data);
    EXPECT_EQ(dev.ReadExFlash(0x3000, 1)[0], 0x00);  // only the one sector was erased

    // Programming over data without an erase shows in the checksum.
    const auto other = Pattern(4096, 8);
    ASSERT_TRUE(host.Write(0x2000, other, cmd::LoaderWrite).ok());
    EXPECT_NE(host.Crc(0x2000, 4096, cmd::LoaderGetCrc16), Crc16Ccitt(other.data(), 4096));

    ASSERT_TRUE(host.None(MakeCdb(cmd::SystemReset)).ok());
    EXPECT_FALSE(dev.spiLoaderRunning());
    EXPECT_EQ(host.Id(cmd::LoaderReadFlashId), std::nullopt);
}

TEST(SpiLoader, WithWrongPinsTheFlashDoesNotAnswer) {
    const struct {
        const char* what;
        int field;
        int32_t value;
    } cases[] = {{"CS on PB4", 1, 4}, {"CLK on port PA", 2, 0}, {"MOSI on PB9", 5, 9}, {"MISO on PC8", 6, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimDevice dev;
        Host host{dev};
        ASSERT_TRUE(host.StartSpiLoader(WithPin(StandInSpiLoader(), c.field, c.value)).ok());
        EXPECT_TRUE(dev.spiLoaderRunning());
        EXPECT_FALSE(dev.exFlashReachable());
        EXPECT_EQ(host.Id(cmd::LoaderReadFlashId), 0xFFFFFFFFu);

        ASSERT_TRUE(dev.WriteExFlashRaw(0, std::vector<uint8_t>(4096, 0x5A)));
        const auto data = Pattern(1000, 3);
        EXPECT_TRUE(host.None(MakeCdb(cmd::LoaderErase4K, 0, 0)).ok());
        EXPECT_TRUE(host.Write(0, data, cmd::LoaderWrite).ok());
        EXPECT_EQ(dev.ReadExFlash(0, 4096), std::vector<uint8_t>(4096, 0x5A));
        const std::vector<uint8_t> ones(1000, 0xFF);
        const auto crc = host.Crc(0, 1000, cmd::LoaderGetCrc16);
        EXPECT_EQ(crc, Crc16Ccitt(ones.data(), 1000));
        EXPECT_NE(crc, Crc16Ccitt(data.data(), 1000));
    }
}

TEST(ResetProgram, ExecutingItResetsTheChip) {
    SimDevice dev;
    Host host{dev};
    ASSERT_TRUE(host.Init().ok());
    ASSERT_TRUE(host.StartSpiLoader().ok());
    ASSERT_TRUE(host.Run(ResetPayload(), cmd::kResetProgramLoadAddr, cmd::kResetProgramExecAddr).ok());
    EXPECT_EQ(dev.resetCount(), 1);
    EXPECT_FALSE(dev.initialized());
    EXPECT_FALSE(dev.spiLoaderRunning());
    // RAM does not survive the reset: running it again without loading fails.
    EXPECT_EQ(host.None(MakeCdb(cmd::Execute, 0, cmd::kResetProgramExecAddr)).status,
              TransferStatus::CheckCondition);
}

TEST(RamPrograms, TheChipRunsNothingButARecognisedProgramAtItsEntry) {
    auto truncated = ResetPayload();
    truncated.resize(truncated.size() - 1);
    auto corrupted = StandInSpiLoader();
    corrupted.back() ^= 1;
    const struct {
        const char* what;
        std::vector<uint8_t> program;
        uint32_t load, exec;
    } cases[] = {
        {"random bytes", Pattern(512, 9), cmd::kSpiLoaderLoadAddr, cmd::kSpiLoaderExecAddr},
        {"loader started at its load address", StandInSpiLoader(), cmd::kSpiLoaderLoadAddr,
         cmd::kSpiLoaderLoadAddr | 1},
        {"loader loaded elsewhere", StandInSpiLoader(), 0x00809000, 0x00809041},
        {"reset program with its header", StandInResetProgram(), cmd::kResetProgramLoadAddr,
         cmd::kResetProgramExecAddr},
        {"reset program cut short", truncated, cmd::kResetProgramLoadAddr, cmd::kResetProgramExecAddr},
        {"loader with a damaged body", corrupted, cmd::kSpiLoaderLoadAddr, cmd::kSpiLoaderExecAddr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimDevice dev;
        Host host{dev};
        EXPECT_EQ(host.Run(c.program, c.load, c.exec).status, TransferStatus::CheckCondition);
        EXPECT_FALSE(dev.spiLoaderRunning());
        EXPECT_EQ(dev.resetCount(), 0);
    }
    SimDevice dev;
    Host host{dev};
    EXPECT_EQ(host.Write(kSimRamBase + kSimRamSize - 4, Pattern(8, 1), cmd::WriteRam).status,
              TransferStatus::CheckCondition);
    EXPECT_EQ(host.Write(kSimRamBase - 4, Pattern(8, 1), cmd::WriteRam).status,
              TransferStatus::CheckCondition);
}

TEST(StandInPrograms, AreWrittenAsTheHostExpectsThem) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / "brev_sim_standins" / "brevload_files";
    std::filesystem::remove_all(dir.parent_path());
    ASSERT_TRUE(WriteStandInPrograms(dir));
    const auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    };
    const auto spi = read(dir / "spi.bin");
    const auto reset = read(dir / "reset.bin");
    EXPECT_EQ(spi, StandInSpiLoader());
    EXPECT_EQ(reset, StandInResetProgram());
    EXPECT_GT(reset.size(), 256u);
    // The default pin block: PB5, PB6, PB7, PB8.
    const std::vector<uint8_t> pins = {1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0,
                                       1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(spi.begin(), spi.begin() + 32), pins);
    std::filesystem::remove_all(dir.parent_path());
}

}  // namespace
}  // namespace brev::sim::test
