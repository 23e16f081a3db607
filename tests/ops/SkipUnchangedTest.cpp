// Downloads that leave what the device already holds, and verify, which writes nothing.
#include "image/Crc16.h"
#include "ops/Failure.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::Not;

std::string B(const Cdb& cdb) { return Brief(cdb); }

struct Block {
    uint32_t addr, length;
};

// The blocks of a download that may skip blocks, in the order they go out: one per erase unit,
// block 0 last.
std::vector<Block> BlockOrder(uint32_t dataBytes, uint32_t unit) {
    if (dataBytes <= unit) return {{0, dataBytes}};
    std::vector<Block> blocks;
    const uint32_t k = dataBytes / unit, r = dataBytes % unit;
    for (uint32_t i = 1; i < k; ++i) blocks.push_back({i * unit, unit});
    if (r > 0) blocks.push_back({k * unit, r});
    blocks.push_back({0, unit});
    return blocks;
}

void ExpectRewrite(std::vector<std::string>& out, const Block& b, uint32_t unit) {
    out.push_back(B(unit == 0x1000 ? cmd::Erase4KBlock(b.addr) : cmd::Erase64KBlock(b.addr)));
    out.push_back(B(cmd::WritePageBlock(b.length, b.addr)));
    out.push_back(B(cmd::GetCrc16Block(b.length, b.addr)));
}

class SkipRig : public OpsRig {
protected:
    void SetUp() override {
        OpsRig::SetUp();
        settings_.skipUnchanged = 1;
    }
    JobOutcome OnlyOutcome() const {
        const auto outcomes = notifier_.outcomes("sim0");
        EXPECT_EQ(outcomes.size(), 1u);
        return outcomes.empty() ? JobOutcome{} : outcomes[0];
    }
    void Restart() {
        sink_->ClearLines();
        notifier_.clear();
    }
    bool Verify(const std::filesystem::path& image, int use4K = 0) {
        const bool started = StartVerify(env_, present_, "sim0", PathToUtf8(image), use4K);
        registry_->WaitAll();
        return started;
    }
};

struct SkipCase {
    const char* name;
    uint32_t dataBytes;
    int use4K;
    uint32_t changedAt;
};

class SkipOneChanged : public SkipRig, public ::testing::WithParamInterface<SkipCase> {};

// First onto a blank device (every block differs: the CRC request is the only extra), then the
// same image with one byte changed: only its block is erased and written, its neighbours keep
// their bytes although they share no command with it.
TEST_P(SkipOneChanged, RewritesOnlyTheChangedBlock) {
    const SkipCase& c = GetParam();
    const uint32_t unit = c.use4K ? 0x1000 : 0x10000;
    const std::vector<Block> blocks = BlockOrder(c.dataBytes, unit);
    auto dev = Attach("sim0");
    const auto oldData = Pattern(c.dataBytes);
    WriteImage(oldData);

    ASSERT_TRUE(Download("sim0", c.use4K));
    std::vector<std::string> expected = {B(cmd::InitBlock({9, 0, 0, 0, 0})), B(cmd::ReadFlashIdBlock())};
    for (const Block& b : blocks) {
        expected.push_back(B(cmd::GetCrc16Block(b.length, b.addr)));
        ExpectRewrite(expected, b, unit);
    }
    expected.push_back(B(cmd::SystemResetBlock()));
    EXPECT_THAT(Commands(), ElementsAreArray(expected));
    EXPECT_EQ(dev->ReadNor(0, c.dataBytes), oldData);
    EXPECT_THAT(notifier_.logs(), Contains(text::FillText(text::kBlocksUnchanged, 0u)));
    EXPECT_EQ(OnlyOutcome().bytesWritten, c.dataBytes);
    EXPECT_EQ(OnlyOutcome().bytesSkipped, 0u);

    Restart();
    auto newData = oldData;
    newData[c.changedAt] ^= 0x5A;
    WriteImage(newData);
    ASSERT_TRUE(Download("sim0", c.use4K));

    expected = {B(cmd::InitBlock({9, 0, 0, 0, 0})), B(cmd::ReadFlashIdBlock())};
    uint32_t changedLength = 0;
    for (const Block& b : blocks) {
        expected.push_back(B(cmd::GetCrc16Block(b.length, b.addr)));
        if (c.changedAt >= b.addr && c.changedAt < b.addr + b.length) {
            ExpectRewrite(expected, b, unit);
            changedLength = b.length;
        } else {
            expected.push_back(B(cmd::ReadBlock(b.length, b.addr)));
        }
    }
    expected.push_back(B(cmd::SystemResetBlock()));
    EXPECT_THAT(Commands(), ElementsAreArray(expected));
    EXPECT_EQ(dev->ReadNor(0, c.dataBytes), newData);

    // Skipped blocks move the bar as written ones do.
    std::vector<int> progress = {5, 10};
    if (blocks.size() > 1) {
        const uint32_t k = c.dataBytes / unit;
        progress.push_back(10);
        for (uint32_t i = 1; i < k; ++i) progress.push_back(10 + static_cast<int>(i * (80.0 / k)));
        progress.push_back(90);
    }
    progress.push_back(100);
    EXPECT_THAT(notifier_.progress("sim0"), ElementsAreArray(progress));
    EXPECT_THAT(notifier_.logs(),
                Contains(text::FillText(text::kBlocksUnchanged, static_cast<uint32_t>(blocks.size() - 1))));
    const JobOutcome outcome = OnlyOutcome();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.bytesWritten, changedLength);
    EXPECT_EQ(outcome.bytesSkipped, c.dataBytes - changedLength);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SkipOneChanged,
    ::testing::Values(SkipCase{"Block5Of16_64K", 0x100000, 0, 0x50123},
                      // One block without skipping; compared and erased per 4 KiB unit here.
                      SkipCase{"Block5Of16_4K", 0x10000, 1, 0x5007},
                      SkipCase{"Tail_64K", 0x28800, 0, 0x28001}, SkipCase{"Tail_4K", 70000, 1, 69999},
                      SkipCase{"Block0_4K", 70000, 1, 3}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A CRC-16 equal to the image's is no proof: the bytes are compared, and a block holding other
// bytes with the same CRC is rewritten.
TEST_F(SkipRig, BlockWithTheSameCrcButOtherBytesIsRewritten) {
    auto dev = Attach("sim0");
    const auto data = Pattern(0x40000);
    WriteImage(data);
    // The generator polynomial x^16 + x^12 + x^5 + 1 added into the data leaves the CRC as it is.
    auto collided = data;
    const uint32_t at = 0x20000 + 0x1234;
    collided[at] ^= 0x01;
    collided[at + 1] ^= 0x10;
    collided[at + 2] ^= 0x21;
    ASSERT_EQ(Crc16Ccitt(collided.data() + 0x20000, 0x10000), Crc16Ccitt(data.data() + 0x20000, 0x10000));
    ASSERT_TRUE(dev->WriteNorRaw(0, collided));

    ASSERT_TRUE(Download("sim0"));

    std::vector<std::string> expected = {B(cmd::InitBlock({9, 0, 0, 0, 0})), B(cmd::ReadFlashIdBlock())};
    for (const Block& b : BlockOrder(0x40000, 0x10000)) {
        expected.push_back(B(cmd::GetCrc16Block(b.length, b.addr)));
        expected.push_back(B(cmd::ReadBlock(b.length, b.addr)));
        if (b.addr == 0x20000) ExpectRewrite(expected, b, 0x10000);
    }
    expected.push_back(B(cmd::SystemResetBlock()));
    EXPECT_THAT(Commands(), ElementsAreArray(expected));
    EXPECT_EQ(dev->ReadNor(0, 0x40000), data);
    EXPECT_EQ(OnlyOutcome().bytesWritten, 0x10000u);
}

// Bytes past the image's end, in its last erase unit, are no part of the comparison: an image
// the device holds is left alone, stale bytes and all, and verifies equal.
TEST_F(SkipRig, StaleBytesPastTheImageNeitherForceAWriteNorFailVerify) {
    auto dev = Attach("sim0");
    const auto old = Pattern(0x30000, 3);
    ASSERT_TRUE(dev->WriteNorRaw(0, old));
    const auto image = WriteImage(std::vector<uint8_t>(old.begin(), old.begin() + 0x28000));

    ASSERT_TRUE(Download("sim0"));
    for (const std::string& command : Commands()) {
        EXPECT_NE(command.substr(0, 2), "05") << command;
        EXPECT_NE(command.substr(0, 2), "02") << command;
    }
    EXPECT_EQ(dev->ReadNor(0, 0x30000), old);
    EXPECT_EQ(OnlyOutcome().bytesSkipped, 0x28000u);

    Restart();
    ASSERT_TRUE(Verify(image));
    EXPECT_TRUE(OnlyOutcome().success);
}

TEST_F(SkipRig, DeviceRemovedWhileComparingFailsWithoutErasingAnything) {
    auto dev = Attach("sim0");
    const auto old = Pattern(0x100000);
    ASSERT_TRUE(dev->WriteNorRaw(0, old));
    auto changed = old;
    changed[0x10] ^= 1;
    changed[0x50000] ^= 1;
    WriteImage(changed);
    sim::FaultConfig faults;
    faults.dropAfterCommands = 7;  // Init, flash id, blocks 1 and 2, then block 3's CRC
    dev->SetFaults(faults);

    ASSERT_TRUE(Download("sim0"));

    const auto trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_FALSE(trace.back().ok);
    EXPECT_THAT(Commands(), Not(Contains(::testing::StartsWith("05@"))));
    EXPECT_EQ(dev->ReadNor(0, 0x100000), old);
    const JobOutcome outcome = OnlyOutcome();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.reason, reason::kDeviceRemoved);
    EXPECT_EQ(notifier_.logs().back(), text::kDownloadFailed);
    EXPECT_THAT(notifier_.images("sim0"), ElementsAreArray({ProgressLoading, ProgressFail}));
}

// Verify reads and compares only: no erase or write, and the first difference is named.
TEST_F(SkipRig, VerifyComparesEveryByteAndNamesTheFirstDifference) {
    auto dev = Attach("sim0");
    const auto data = Pattern(0x100000 - 100);
    const auto image = WriteImage(data);
    ASSERT_TRUE(dev->WriteNorRaw(0, data));

    ASSERT_TRUE(Verify(image));
    EXPECT_TRUE(OnlyOutcome().success);
    EXPECT_EQ(OnlyOutcome().kind, JobOutcome::Kind::Verify);
    EXPECT_EQ(OnlyOutcome().bytesWritten, data.size());
    for (const auto& e : Trace()) {
        EXPECT_TRUE(e.sub() == cmd::Init || e.sub() == cmd::Read) << Brief(e);
    }
    EXPECT_EQ(Commands().back(), B(cmd::ReadBlock(0x10000 - 100, 0xF0000)));

    // Two differences: the first one counts; its block follows the erase unit asked for.
    ASSERT_TRUE(dev->WriteNorRaw(0x51234, {static_cast<uint8_t>(data[0x51234] ^ 0xFF)}));
    ASSERT_TRUE(dev->WriteNorRaw(0x90000, {static_cast<uint8_t>(data[0x90000] ^ 0xFF)}));
    for (const int use4K : {0, 1}) {
        Restart();
        ASSERT_TRUE(Verify(image, use4K));
        const JobOutcome outcome = OnlyOutcome();
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, reason::kVerifyMismatch);
        EXPECT_THAT(outcome.detail,
                    ::testing::StartsWith(use4K ? "block 81 at 0x51234" : "block 5 at 0x51234"));
        EXPECT_EQ(outcome.bytesWritten, 0x50000u);
        EXPECT_THAT(notifier_.images("sim0"), ElementsAreArray({ProgressLoading, ProgressFail}));
    }
    EXPECT_EQ(dev->ReadNor(0x51234, 1)[0], static_cast<uint8_t>(data[0x51234] ^ 0xFF));
}

}  // namespace
}  // namespace brev::testing
