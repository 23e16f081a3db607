#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "device/CommandSet.h"
#include "device/Tracing.h"
#include "image/Crc16.h"
#include "tests/device/FakeBackend.h"
#include "tests/device/FakeFlash.h"

namespace brev {
namespace {

using test::Compact;

std::string Hex(const Cdb& b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t v : b) {
        s += kDigits[v >> 4];
        s += kDigits[v & 0x0F];
    }
    return s;
}

struct BlockCase {
    const char* what;
    Cdb block;
    const char* expected;
};

TEST(CommandBlocks, EveryCommandHasItsExactBytes) {
    const BlockCase cases[] = {
        {"ReadFlashId", cmd::ReadFlashIdBlock(), "C0 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"WriteByte", cmd::WriteByteBlock(0x11223344, 0x55667788),
         "C0 01 44 33 22 11 88 77 66 55 00 00 00 00 00 00"},
        {"WritePage", cmd::WritePageBlock(0x1000, 0x10000),
         "C0 02 00 10 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"WritePage selector", cmd::WritePageBlock(1, 2, 0x15),
         "C5 02 01 00 00 00 02 00 00 00 00 00 00 00 00 00"},
        {"Erase4K", cmd::Erase4KBlock(0x10000), "C0 03 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"Erase32K", cmd::Erase32KBlock(0x8000), "C0 04 00 00 00 00 00 80 00 00 00 00 00 00 00 00"},
        {"Erase64K", cmd::Erase64KBlock(0x30000), "C0 05 00 00 00 00 00 00 03 00 00 00 00 00 00 00"},
        {"EraseChip", cmd::EraseChipBlock(), "C0 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"Read", cmd::ReadBlock(0x10000, 0x20000), "C0 07 00 00 01 00 00 00 02 00 00 00 00 00 00 00"},
        {"FastRead", cmd::FastReadBlock(0x80000, 0x12), "C0 08 00 00 08 00 12 00 00 00 00 00 00 00 00 00"},
        {"WriteRam", cmd::WriteRamBlock(0x200, cmd::kResetProgramLoadAddr),
         "C0 09 00 02 00 00 00 00 82 00 00 00 00 00 00 00"},
        {"Execute", cmd::ExecuteBlock(cmd::kSpiLoaderExecAddr),
         "C0 0A 00 00 00 00 41 80 80 00 00 00 00 00 00 00"},
        {"Init clkDiv 0", cmd::InitBlock({0, 1, 2, 3, 4}), "C0 81 09 01 02 03 04 00 00 00 00 00 00 00 00 00"},
        {"Init clkDiv 5", cmd::InitBlock({5, 0, 0, 0, 0}), "C0 81 05 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"GetCrc16", cmd::GetCrc16Block(0x1000, 0x10000), "C0 82 00 10 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"SystemReset", cmd::SystemResetBlock(), "C0 83 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"ReadChipVer", cmd::ReadChipVerBlock(), "C0 84 04 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"SetKey set", cmd::SetKeyBlock(true, cmd::kDeviceKey),
         "C0 85 01 2D 7B 00 00 00 00 00 00 00 00 00 00 00"},
        {"SetKey clear", cmd::SetKeyBlock(false, cmd::kDeviceKey),
         "C0 85 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"LoaderReadFlashId", cmd::LoaderReadFlashIdBlock(),
         "C0 10 04 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"LoaderWrite", cmd::LoaderWriteBlock(0x100, 0x100),
         "C0 12 00 01 00 00 00 01 00 00 00 00 00 00 00 00"},
        {"LoaderErase4K", cmd::LoaderErase4KBlock(0x3000), "C0 13 00 00 00 00 00 30 00 00 00 00 00 00 00 00"},
        {"LoaderGetCrc16", cmd::LoaderGetCrc16Block(0x100, 0x100),
         "C0 92 00 01 00 00 00 01 00 00 00 00 00 00 00 00"},
        {"PcStartWrite", cmd::PcStartWriteBlock(), "C0 16 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"PcStartErase", cmd::PcStartEraseBlock(), "C0 D9 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(c.block), Compact(c.expected)) << c.what;

    CFlashProtocol protocol;
    const Cdb built = cmd::Block(protocol.selector, cmd::WritePage, 0x12345678, 0x00ABCDEF);
    EXPECT_EQ(Hex(built), Compact("C0 02 78 56 34 12 EF CD AB 00 00 00 00 00 00 00"));
}

// A download-mode device behind the fake backend, traced, with a loader of each kind.
class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake->Add({"sdb", "/dev/sdb"});
        fake->SetHandler("sdb", flash.handler());
        device->Open();
    }
    std::vector<std::string> Lines() const { return sink->Lines(); }
    static std::string Line(const char* dir, const char* cdb, uint32_t len, const char* status = "ok") {
        return std::string("sdb ") + dir + " " + Compact(cdb) + " " + std::to_string(len) + " " + status;
    }
    static std::vector<uint8_t> Pattern(size_t n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
        return v;
    }

    std::shared_ptr<test::FakeBackend> fake = std::make_shared<test::FakeBackend>();
    std::shared_ptr<TraceSink> sink = std::make_shared<TraceSink>();
    test::FakeFlash flash;
    std::shared_ptr<MassDevice> device =
        std::make_shared<MassDevice>(std::make_shared<TracingBackend>(fake, sink), "/dev/sdb", "sdb",
                                     PatternList{"BRVNTIS"}, PatternList{"DEVICE"});
    std::shared_ptr<CFlashProtocol> protocol = std::make_shared<CFlashProtocol>();
    std::shared_ptr<CDataLoader> loader = std::make_shared<CDataLoader>(device, protocol);
    std::shared_ptr<CDataLoader2> loader2 = std::make_shared<CDataLoader2>(device, protocol);
};

TEST_F(LoaderTest, LoaderOperationsSendTheirBlocks) {
    const auto data = Pattern(0x200);
    uint8_t crc[2];
    ASSERT_TRUE(loader->Init(0, 1, 2, 3, 4));
    ASSERT_TRUE(loader->WritePage(data.data(), 0x3000, 0x100));
    ASSERT_TRUE(loader->GetCrc16(crc, 0x3000, 0x100));
    ASSERT_TRUE(loader->WriteRam(data.data(), 0x200));
    ASSERT_TRUE(loader->Execute());
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           Line("out", "C0 81 09 01 02 03 04 00 00 00 00 00 00 00 00 00", 0),
                           Line("out", "C0 02 00 01 00 00 00 30 00 00 00 00 00 00 00 00", 0x100),
                           Line("in", "C0 82 00 01 00 00 00 30 00 00 00 00 00 00 00 00", 2),
                           Line("out", "C0 09 00 02 00 00 00 00 82 00 00 00 00 00 00 00", 0x200),
                           Line("out", "C0 0A 00 00 00 00 01 00 82 00 00 00 00 00 00 00", 0),
                       }));
    // Commands without data go with no buffer and no data phase.
    const auto sent = fake->sent();
    EXPECT_EQ(sent.front().dir, DataDirection::None);
    EXPECT_TRUE(sent.front().dataNull);
}

TEST_F(LoaderTest, InitOpensTheDeviceFirstAndSendsNothingWhenItDoesNotOpen) {
    device->Close();
    ASSERT_TRUE(loader->Init(5, 0, 0, 0, 0));  // reopens the closed device
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(Lines(),
              std::vector<std::string>{Line("out", "C0 81 05 00 00 00 00 00 00 00 00 00 00 00 00 00", 0)});

    auto gone =
        std::make_shared<MassDevice>(fake, "/dev/sdz", "sdz", PatternList{"BRVNTIS"}, PatternList{"DEVICE"});
    const int before = fake->counters().executes;
    EXPECT_FALSE(CDataLoader(gone, protocol).Init(0, 0, 0, 0, 0));
    EXPECT_EQ(fake->counters().executes, before);
}

TEST_F(LoaderTest, EraseWriteVerifyOneUnitIsEraseWriteCrc) {
    const auto data = Pattern(4096);
    EXPECT_TRUE(EraseWriteVerify(loader, 0x10000, data.data(), 4096, EraseUnit::Unit4K));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           Line("out", "C0 03 00 00 00 00 00 00 01 00 00 00 00 00 00 00", 0),
                           Line("out", "C0 02 00 10 00 00 00 00 01 00 00 00 00 00 00 00", 4096),
                           Line("in", "C0 82 00 10 00 00 00 00 01 00 00 00 00 00 00 00", 2),
                       }));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.mem.begin() + 0x10000));

    sink->ClearLines();
    EXPECT_TRUE(EraseWriteVerify(loader, 0x20000, data.data(), 4096, EraseUnit::Unit64K));
    ASSERT_EQ(Lines().size(), 3u);
    EXPECT_EQ(Lines()[0], Line("out", "C0 05 00 00 00 00 00 00 02 00 00 00 00 00 00 00", 0));
}

TEST_F(LoaderTest, EraseWriteVerifyErasesEveryUnitTheBlockCovers) {
    const auto data = Pattern(0x10000);
    EXPECT_TRUE(EraseWriteVerify(loader, 0x20000, data.data(), 0x10000, EraseUnit::Unit4K));
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 18u);
    for (uint32_t i = 0; i < 16; ++i) {
        Cdb erase = cmd::Erase4KBlock(0x20000 + i * 0x1000);
        EXPECT_EQ(lines[i], "sdb out " + Hex(erase) + " 0 ok") << i;
    }
    EXPECT_EQ(lines[16], Line("out", "C0 02 00 00 01 00 00 00 02 00 00 00 00 00 00 00", 0x10000));
    EXPECT_EQ(lines[17], Line("in", "C0 82 00 00 01 00 00 00 02 00 00 00 00 00 00 00", 2));

    // A block that starts inside a unit and runs into the next: the first erase keeps the
    // block's own address, the next one is the following unit.
    sink->ClearLines();
    EXPECT_TRUE(EraseWriteVerify(loader, 0x40800, data.data(), 0x1000, EraseUnit::Unit4K));
    lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Line("out", "C0 03 00 00 00 00 00 08 04 00 00 00 00 00 00 00", 0));
    EXPECT_EQ(lines[1], Line("out", "C0 03 00 00 00 00 00 10 04 00 00 00 00 00 00 00", 0));
}

TEST_F(LoaderTest, EraseWriteVerifyFailsOnWrongCrcOrFailedStep) {
    const auto data = Pattern(4096);
    const uint16_t crc = Crc16Ccitt(data.data(), 4096);
    ASSERT_NE(crc & 0xFF, crc >> 8) << "a swapped answer must differ from the right one";

    flash.swapCrc = true;
    EXPECT_FALSE(EraseWriteVerify(loader, 0x10000, data.data(), 4096, EraseUnit::Unit4K));
    flash.swapCrc = false;
    flash.crcXor = 0x0001;
    EXPECT_FALSE(EraseWriteVerify(loader, 0x10000, data.data(), 4096, EraseUnit::Unit4K));
    flash.crcXor = 0;

    // A rejected write ends the operation: no CRC is asked for.
    sink->ClearLines();
    fake->SetHandler("sdb", [](const uint8_t* cdb, DataDirection, uint8_t*, uint32_t) {
        return cdb[1] == cmd::WritePage ? test::Status(TransferStatus::CheckCondition, 0x02)
                                        : TransferResult{};
    });
    EXPECT_FALSE(EraseWriteVerify(loader, 0x10000, data.data(), 4096, EraseUnit::Unit4K));
    EXPECT_EQ(Lines().size(), 2u);
    EXPECT_EQ(Lines().back(), Line("out", "C0 02 00 10 00 00 00 00 01 00 00 00 00 00 00 00", 4096, "fail"));

    // A failed erase stops before anything is written.
    sink->ClearLines();
    fake->SetHandler("sdb", [](const uint8_t*, DataDirection, uint8_t*, uint32_t) {
        return test::Status(TransferStatus::NoDevice);
    });
    EXPECT_FALSE(EraseWriteVerify(loader, 0x10000, data.data(), 0x2000, EraseUnit::Unit4K));
    EXPECT_EQ(Lines().size(), 1u);
}

TEST_F(LoaderTest, LoaderWriteVerifySendsWriteThenCrc) {
    const auto data = Pattern(256);
    std::fill(flash.mem.begin(), flash.mem.begin() + 0x1000, 0xFF);
    EXPECT_TRUE(LoaderWriteVerify(loader2, 0x100, data.data(), 256));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           Line("out", "C0 12 00 01 00 00 00 01 00 00 00 00 00 00 00 00", 256),
                           Line("in", "C0 92 00 01 00 00 00 01 00 00 00 00 00 00 00 00", 2),
                       }));

    flash.swapCrc = true;
    EXPECT_FALSE(LoaderWriteVerify(loader2, 0x100, data.data(), 256));
}

TEST_F(LoaderTest, ClosedDeviceSendsNothing) {
    device->Close();
    const auto data = Pattern(16);
    EXPECT_FALSE(EraseWriteVerify(loader, 0, data.data(), 16, EraseUnit::Unit4K));
    EXPECT_FALSE(LoaderWriteVerify(loader2, 0, data.data(), 16));
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(fake->counters().executes, 0);
}

}  // namespace
}  // namespace brev
