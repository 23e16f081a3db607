// The diagnostic single commands on one test connection.
#include "ops/Diagnostics.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Diagnostics : public OpsRig {
protected:
    void SetUp() override {
        OpsRig::SetUp();
        conn_ = std::make_unique<CTestConnection>(env_, dir_ / "readData.bin");
    }
    void Init() { conn_->TestInit(present_, env_.vendorPatterns, env_.productPatterns); }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& n : notifier_.notes()) {
            if (n.kind == "box") out.push_back(n.text);
        }
        return out;
    }

    std::unique_ptr<CTestConnection> conn_;
};

using Op = void (*)(CTestConnection&);

struct OpCase {
    const char* label;
    Op op;
    std::string expected;  // the one command it sends on an open connection ("" = checked elsewhere)
};

const std::vector<OpCase>& Ops() {
    static const std::vector<OpCase> ops = {
        {"GetCrc16", [](CTestConnection& c) { c.TestGetCrc16(); }, Brief(cmd::GetCrc16Block(0x10000, 0))},
        {"SystemReset", [](CTestConnection& c) { c.TestSystemReset(); }, Brief(cmd::SystemResetBlock())},
        {"ReadFlashId", [](CTestConnection& c) { c.TestReadFlashId(); }, Brief(cmd::ReadFlashIdBlock())},
        {"ReadChipVer", [](CTestConnection& c) { c.TestReadChipVer(); }, Brief(cmd::ReadChipVerBlock())},
        {"Erase4K", [](CTestConnection& c) { c.TestErase4K(); }, Brief(cmd::Erase4KBlock(0))},
        {"Erase32K", [](CTestConnection& c) { c.TestErase32K(); }, Brief(cmd::Erase32KBlock(0))},
        {"Erase64K", [](CTestConnection& c) { c.TestErase64K(); }, Brief(cmd::Erase64KBlock(0))},
        {"EraseChip", [](CTestConnection& c) { c.TestEraseChip(); }, Brief(cmd::EraseChipBlock())},
        {"Read", [](CTestConnection& c) { c.TestRead(); }, Brief(cmd::ReadBlock(0x80000, 0))},
        {"FastRead", [](CTestConnection& c) { c.TestFastRead(); }, Brief(cmd::FastReadBlock(0x80000, 0))},
        {"WriteByte", [](CTestConnection& c) { c.TestWriteByte(); }, ""},
        {"WritePage", [](CTestConnection& c) { c.TestWritePage(); }, ""},
        {"SetKey", [](CTestConnection& c) { c.TestSetKey(1, cmd::kDeviceKey); }, ""},
    };
    return ops;
}

TEST_F(Diagnostics, EveryCommandNeedsAnOpenConnection) {
    Attach("sim0");
    conn_->TestCloseDevice();  // closing a closed connection is harmless
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : Ops()) {
            notifier_.clear();
            c.op(*conn_);
            EXPECT_THAT(Boxes(), ElementsAre(text::kNotInitialized)) << c.label;
        }
        EXPECT_THAT(sink_->Lines(), IsEmpty());
        // Open, then close again: the guard is back.
        Init();
        conn_->TestCloseDevice();
        sink_->ClearLines();
    }
}

TEST_F(Diagnostics, InitOpensTheFirstDeviceOnceAndSendsTheBusBytes) {
    conn_->TestInit({}, env_.vendorPatterns, env_.productPatterns);
    EXPECT_THAT(Boxes(), ElementsAre(text::kNoDeviceToOpen));
    EXPECT_FALSE(conn_->isOpen());

    auto first = Attach("sim0");
    Attach("sim1");
    settings_.busLineMode = 2;
    settings_.busChipType = 7;
    Init();
    Init();
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].name, "sim0");
    EXPECT_THAT(std::vector<uint8_t>(trace[0].cdb.begin(), trace[0].cdb.begin() + 8),
                ElementsAre(0xC0, 0x81, 9, 2, 0, 0, 7, 0));
    EXPECT_TRUE(first->initialized());

    sink_->ClearLines();
    for (const auto& c : Ops()) {
        if (c.expected.empty()) continue;
        c.op(*conn_);
        const auto t = Trace();
        ASSERT_FALSE(t.empty()) << c.label;
        EXPECT_EQ(Brief(t.back()), c.expected) << c.label;
    }
    EXPECT_EQ(Trace().size(), 10u);
}

TEST_F(Diagnostics, DeviceThatDoesNotOpenStillCountsAsAConnection) {
    present_.push_back({"gone", "sim:gone", "DEVICE"});
    Init();
    EXPECT_THAT(Boxes(), ElementsAre(text::kOpenFailedReplug));
    EXPECT_TRUE(conn_->isOpen());
    notifier_.clear();
    conn_->TestErase4K();  // nothing to send it to, nothing shown
    EXPECT_THAT(notifier_.notes(), IsEmpty());
    EXPECT_THAT(sink_->Lines(), IsEmpty());
}

TEST_F(Diagnostics, SetKeyBlocks) {
    Attach("sim0");
    Init();
    sink_->ClearLines();
    conn_->TestSetKey(1, cmd::kDeviceKey);
    conn_->TestSetKey(0, 0);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 2u);
    const std::vector<uint8_t> set = {0xC0, 0x85, 1, 0x2D, 0x7B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> clear = {0xC0, 0x85, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(trace[0].cdb, set);
    EXPECT_EQ(trace[1].cdb, clear);
}

TEST_F(Diagnostics, WriteButtonsSendTheWholeFile) {
    auto dev = Attach("sim0");
    Init();
    settings_.setDownloadFilePath(PathToUtf8(dir_ / "missing.bin"));
    conn_->TestWriteByte();
    EXPECT_THAT(Boxes(), ElementsAre(text::kFileNotReadable));

    WriteRaw(Pattern(1000));
    sink_->ClearLines();
    conn_->TestWriteByte();
    conn_->TestWritePage();
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_THAT(std::vector<uint8_t>(trace[0].cdb.begin(), trace[0].cdb.begin() + 10),
                ElementsAre(0xC0, 0x01, 0xE8, 0x03, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(trace[0].length, 1000u);
    EXPECT_EQ(Brief(trace[1]), Brief(cmd::WritePageBlock(1000, 0)));
    EXPECT_EQ(trace[1].length, 1000u);
}

// A read that fails says so and leaves no zero-filled file that would pass for a dump.
TEST_F(Diagnostics, ReadsWriteTheFileOnlyWhenTheReadSucceeded) {
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast);
        const std::string name = fast ? "fast" : "slow";
        sim::SimDeviceConfig config;
        config.faults.failSubCommand = fast ? cmd::FastRead : cmd::Read;
        config.faults.failNth = 1;
        auto dev = Attach(name, config);
        ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(0x80000)));
        conn_->TestCloseDevice();
        conn_->TestInit({present_.back()}, env_.vendorPatterns, env_.productPatterns);
        notifier_.clear();
        std::filesystem::remove(dir_ / "readData.bin");

        auto read = [&] { fast ? conn_->TestFastRead() : conn_->TestRead(); };
        read();
        EXPECT_THAT(Boxes(), ElementsAre(text::kTestReadFailed));
        EXPECT_FALSE(std::filesystem::exists(dir_ / "readData.bin"));

        read();  // the fault hits only the first read
        EXPECT_THAT(Boxes(), ElementsAre(text::kTestReadFailed));
        const std::vector<uint8_t> file = test::ReadBytes(dir_ / "readData.bin");
        EXPECT_EQ(file, dev->ReadNor(0, 0x80000));
    }
}

// A path that takes 64 KiB per request refuses a half-mebibyte read: it goes out as eight
// consecutive reads, and the file still holds the flash in address order.
TEST_F(Diagnostics, ReadsLargerThanThePathTakesGoOutInPieces) {
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast);
        sim::SimDeviceConfig config;
        config.maxTransfer = 0x10000;
        auto dev = Attach(fast ? "fast" : "slow", config);
        ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(0x80000, fast ? 12 : 11)));
        conn_->TestCloseDevice();
        conn_->TestInit({present_.back()}, env_.vendorPatterns, env_.productPatterns);
        sink_->ClearLines();
        notifier_.clear();
        std::filesystem::remove(dir_ / "readData.bin");

        fast ? conn_->TestFastRead() : conn_->TestRead();
        EXPECT_THAT(Boxes(), IsEmpty());
        const auto trace = Trace();
        ASSERT_EQ(trace.size(), 8u);
        for (uint32_t i = 0; i < trace.size(); ++i) {
            EXPECT_EQ(Brief(trace[i]), Brief(fast ? cmd::FastReadBlock(0x10000, i * 0x10000)
                                                  : cmd::ReadBlock(0x10000, i * 0x10000)));
            EXPECT_EQ(trace[i].length, 0x10000u);
            EXPECT_TRUE(trace[i].ok);
        }
        const std::vector<uint8_t> file = test::ReadBytes(dir_ / "readData.bin");
        ASSERT_EQ(file.size(), 0x80000u);
        EXPECT_EQ(file, dev->ReadNor(0, 0x80000));
    }
}

}  // namespace
}  // namespace brev::testing
