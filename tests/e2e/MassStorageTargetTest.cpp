#include <gtest/gtest.h>

#include <vector>

#include "device/CommandSet.h"
#include "image/Crc16.h"
#include "tests/e2e/gadget/FunctionFs.h"
#include "tests/e2e/gadget/MassStorageTarget.h"

namespace brev::gadget {
namespace {

std::vector<uint8_t> CbwBytes(uint32_t tag, uint32_t length, uint8_t flags, uint8_t lun, uint8_t cdbLength,
                              uint32_t signature = kCbwSignature) {
    std::vector<uint8_t> b(kCbwSize, 0);
    const uint32_t fields[] = {signature, tag, length};
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) b[f * 4 + i] = uint8_t(fields[f] >> (8 * i));
    b[12] = flags;
    b[13] = lun;
    b[14] = cdbLength;
    for (int i = 0; i < 16; ++i) b[15 + i] = uint8_t(0xA0 + i);
    return b;
}

TEST(BulkOnlyWrappers, ParsesOnlyWellFormedCommandWrappers) {
    const auto good = CbwBytes(0x01020304, 4096, 0x80, 0, 10);
    const auto cbw = ParseCbw(good.data(), good.size());
    ASSERT_TRUE(cbw);
    EXPECT_EQ(cbw->tag, 0x01020304u);
    EXPECT_EQ(cbw->dataLength, 4096u);
    EXPECT_EQ(cbw->direction(), DataDirection::In);
    EXPECT_EQ(cbw->cdb[9], 0xA9);
    EXPECT_EQ(cbw->cdb[10], 0) << "bytes past the block length are not taken";

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } bad[] = {
        {"short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"long",
         [&] {
             auto b = good;
             b.push_back(0);
             return b;
         }()},
        {"signature", CbwBytes(1, 0, 0, 0, 6, 0x43425358)},
        {"second LUN", CbwBytes(1, 0, 0, 1, 6)},
        {"empty block", CbwBytes(1, 0, 0, 0, 0)},
        {"block over 16", CbwBytes(1, 0, 0, 0, 17)},
    };
    for (const auto& c : bad) EXPECT_FALSE(ParseCbw(c.bytes.data(), c.bytes.size())) << c.what;
}

TEST(BulkOnlyWrappers, StatusWrapperBytes) {
    const auto csw = BuildCsw(0x11223344, 5, CswStatus::Failed);
    const std::array<uint8_t, kCswSize> expected{0x55, 0x53, 0x42, 0x53, 0x44, 0x33, 0x22,
                                                 0x11, 5,    0,    0,    0,    1};
    EXPECT_EQ(csw, expected);
}

TEST(FunctionFsDescriptors, MassStorageInterfaceAtEverySpeed) {
    const auto d = MassStorageDescriptors();
    ASSERT_GE(d.size(), 24u);
    EXPECT_EQ(d[4] | d[5] << 8, int(d.size()));
    // Header (magic, length, flags, three counts) then per speed: interface, in, [companion], out, ...
    std::size_t at = 24;
    for (const uint16_t maxPacket : {64, 512, 1024}) {
        const std::vector<uint8_t> intf(d.begin() + long(at), d.begin() + long(at) + 9);
        EXPECT_EQ(intf, (std::vector<uint8_t>{9, 4, 0, 0, 2, 0x08, 0x06, 0x50, 1}));
        at += 9;
        for (const uint8_t address : {0x81, 0x02}) {
            EXPECT_EQ(d[at + 1], 5);
            EXPECT_EQ(d[at + 2], address);
            EXPECT_EQ(d[at + 3], 2) << "bulk";
            EXPECT_EQ(d[at + 4] | d[at + 5] << 8, maxPacket);
            at += 7;
            if (maxPacket == 1024) {
                EXPECT_EQ(d[at + 1], 0x30) << "super-speed companion";
                at += 6;
            }
        }
    }
    EXPECT_EQ(at, d.size());
}

class TargetTest : public ::testing::Test {
protected:
    explicit TargetTest(sim::SimDeviceConfig config = {}, TargetOptions options = SmallMedium())
        : device_(config), target_(device_, std::move(options)) {}

    static TargetOptions SmallMedium() {
        TargetOptions o;
        o.blockCount = 64;
        return o;
    }

    // One command through the target; `data` is the data phase (in or out).
    CommandOutcome Run(std::initializer_list<uint8_t> cdb, DataDirection dir, std::vector<uint8_t>& data) {
        Cbw cbw;
        std::copy(cdb.begin(), cdb.end(), cbw.cdb.begin());
        cbw.cdbLength = uint8_t(cdb.size());
        cbw.dataLength = uint32_t(data.size());
        cbw.dataIn = dir == DataDirection::In;
        return target_.Execute(cbw, data.data());
    }
    CommandOutcome Run(const Cdb& cdb, DataDirection dir, std::vector<uint8_t>& data) {
        Cbw cbw;
        cbw.cdb = cdb;
        cbw.cdbLength = 16;
        cbw.dataLength = uint32_t(data.size());
        cbw.dataIn = dir == DataDirection::In;
        return target_.Execute(cbw, data.data());
    }
    std::vector<uint8_t> RequestSense() {
        std::vector<uint8_t> sense(18);
        EXPECT_EQ(Run({0x03, 0, 0, 0, 18, 0}, DataDirection::In, sense).status, CswStatus::Passed);
        return sense;
    }
    static void ExpectSense(const std::vector<uint8_t>& s, uint8_t key, uint8_t asc, uint8_t ascq = 0) {
        EXPECT_EQ(s[0], 0x70);
        EXPECT_EQ(s[2], key);
        EXPECT_EQ(s[12], asc);
        EXPECT_EQ(s[13], ascq);
    }

    sim::SimDevice device_;
    MassStorageTarget target_;
};

TEST_F(TargetTest, InquiryCarriesTheModelsStringsAndTheRemovableBit) {
    std::vector<uint8_t> data(96, 0xEE);
    const auto out = Run({0x12, 0, 0, 0, 96, 0}, DataDirection::In, data);
    ASSERT_EQ(out.status, CswStatus::Passed);
    ASSERT_EQ(out.dataBytes, 36u);
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[1], 0x80);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "BRVNTIS ");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "DEVICE          ");

    std::vector<uint8_t> shortBuffer(5);  // the allocation length cuts the answer
    EXPECT_EQ(Run({0x12, 0, 0, 0, 5, 0}, DataDirection::In, shortBuffer).dataBytes, 5u);
}

TEST_F(TargetTest, BlankMediumOfTheConfiguredSize) {
    std::vector<uint8_t> capacity(8);
    ASSERT_EQ(Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, capacity).status, CswStatus::Passed);
    EXPECT_EQ(capacity, (std::vector<uint8_t>{0, 0, 0, 63, 0, 0, 2, 0}));

    std::vector<uint8_t> blocks(2 * 512, 0xEE);  // the last two blocks
    const auto read = Run({0x28, 0, 0, 0, 0, 62, 0, 0, 2, 0}, DataDirection::In, blocks);
    EXPECT_EQ(read.status, CswStatus::Passed);
    EXPECT_EQ(read.dataBytes, 1024u);
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), 0), 1024);

    std::vector<uint8_t> none;  // a read of no blocks comes with no buffer at all
    const auto empty = Run({0x28, 0, 0, 0, 0, 62, 0, 0, 0, 0}, DataDirection::In, none);
    EXPECT_EQ(empty.status, CswStatus::Passed);
    EXPECT_EQ(empty.dataBytes, 0u);

    std::vector<uint8_t> past(2 * 512);
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 63, 0, 0, 2, 0}, DataDirection::In, past).status, CswStatus::Failed);
    ExpectSense(RequestSense(), 0x05, 0x21);
}

TEST_F(TargetTest, RejectedStandardCommandsLeaveSenseUntilTheNextGoodCommand) {
    const struct {
        std::initializer_list<uint8_t> cdb;
        DataDirection dir;
        uint8_t key, asc;
    } cases[] = {
        {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, DataDirection::Out, 0x07, 0x27},  // WRITE(10): write-protected
        {{0x04, 0, 0, 0, 0, 0}, DataDirection::None, 0x05, 0x20},             // FORMAT UNIT: unknown here
        {{0x12, 1, 0x80, 0, 64, 0}, DataDirection::In, 0x05, 0x24},           // INQUIRY of a VPD page
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data(c.dir == DataDirection::None ? 0 : 512);
        EXPECT_EQ(Run(c.cdb, c.dir, data).status, CswStatus::Failed);
        ExpectSense(RequestSense(), c.key, c.asc);
        std::vector<uint8_t> none;
        EXPECT_EQ(Run({0x00, 0, 0, 0, 0, 0}, DataDirection::None, none).status, CswStatus::Passed);
        ExpectSense(RequestSense(), 0, 0);
    }
}

TEST_F(TargetTest, VendorCommandsReachTheModelByteExact) {
    std::vector<uint8_t> none;
    // Before Init the model refuses flash commands; its sense comes back through REQUEST SENSE.
    std::vector<uint8_t> id(4);
    EXPECT_EQ(Run(cmd::ReadFlashIdBlock(), DataDirection::In, id).status, CswStatus::Failed);
    ExpectSense(RequestSense(), 0x02, 0x04, 0x02);

    ASSERT_EQ(Run(cmd::InitBlock({}), DataDirection::None, none).status, CswStatus::Passed);
    ASSERT_EQ(Run(cmd::Erase4KBlock(0x1000), DataDirection::None, none).status, CswStatus::Passed);
    std::vector<uint8_t> written(300);
    for (std::size_t i = 0; i < written.size(); ++i) written[i] = uint8_t(i * 31 + 7);
    auto copy = written;
    const auto write = Run(cmd::WritePageBlock(300, 0x1000), DataDirection::Out, copy);
    EXPECT_EQ(write.status, CswStatus::Passed);
    EXPECT_EQ(write.dataBytes, 300u);
    EXPECT_EQ(device_.ReadNor(0x1000, 300), written);

    std::vector<uint8_t> read(300);
    const auto readOut = Run(cmd::ReadBlock(300, 0x1000), DataDirection::In, read);
    EXPECT_EQ(readOut.dataBytes, 300u);
    EXPECT_EQ(read, written);
    std::vector<uint8_t> crc(2);
    ASSERT_EQ(Run(cmd::GetCrc16Block(300, 0x1000), DataDirection::In, crc).status, CswStatus::Passed);
    EXPECT_EQ(crc[0] | crc[1] << 8, Crc16Ccitt(written.data(), 300));
}

TEST_F(TargetTest, InjectedFaultsBecomeCheckConditionSilenceOrLeavingTheBus) {
    std::vector<uint8_t> none;
    std::vector<uint8_t> crc(2);
    ASSERT_EQ(Run(cmd::InitBlock({}), DataDirection::None, none).status, CswStatus::Passed);

    sim::FaultConfig fail;
    fail.failSubCommand = cmd::GetCrc16;
    fail.failNth = 2;
    device_.SetFaults(fail);
    EXPECT_EQ(Run(cmd::GetCrc16Block(16, 0), DataDirection::In, crc).status, CswStatus::Passed);
    EXPECT_EQ(Run(cmd::GetCrc16Block(16, 0), DataDirection::In, crc).status, CswStatus::Failed);
    ExpectSense(RequestSense(), 0x04, 0x44);

    sim::FaultConfig silent;
    silent.timeoutNth = 1;
    device_.SetFaults(silent);
    EXPECT_EQ(Run(cmd::GetCrc16Block(16, 0), DataDirection::In, crc).reply, CommandOutcome::Reply::None);

    sim::FaultConfig drop;
    drop.dropAfterCommands = 1;
    device_.SetFaults(drop);
    EXPECT_EQ(Run(cmd::GetCrc16Block(16, 0), DataDirection::In, crc).reply, CommandOutcome::Reply::Status);
    EXPECT_EQ(Run(cmd::GetCrc16Block(16, 0), DataDirection::In, crc).reply, CommandOutcome::Reply::OffBus);
}

class ShortInTest : public TargetTest {
protected:
    ShortInTest() : TargetTest({}, ShortReads()) {}
    static TargetOptions ShortReads() {
        TargetOptions o = SmallMedium();
        o.shortInSub = cmd::Read;
        o.shortInBytes = 1000;
        return o;
    }
};

TEST_F(ShortInTest, OnlyLongerDataInOfTheChosenSubCommandEndsShort) {
    std::vector<uint8_t> none;
    ASSERT_EQ(Run(cmd::InitBlock({}), DataDirection::None, none).status, CswStatus::Passed);
    ASSERT_EQ(Run(cmd::Erase4KBlock(0), DataDirection::None, none).status, CswStatus::Passed);
    std::vector<uint8_t> written(4096);
    for (std::size_t i = 0; i < written.size(); ++i) written[i] = uint8_t(i * 13 + 1);
    auto copy = written;
    ASSERT_EQ(Run(cmd::WritePageBlock(4096, 0), DataDirection::Out, copy).dataBytes, 4096u)
        << "data-out is whole";

    const struct {
        const char* what;
        Cdb cdb;
        uint32_t length, answered;
        bool endsShort;
    } cases[] = {
        {"longer read", cmd::ReadBlock(4096, 0), 4096, 1000, true},
        {"read of exactly the short length", cmd::ReadBlock(1000, 0), 1000, 1000, false},
        {"shorter read", cmd::ReadBlock(600, 0), 600, 600, false},
        {"another data-in sub-command", cmd::ReadFlashIdBlock(), 4, 4, false},
        {"fast read is another sub-command", cmd::FastReadBlock(4096, 0), 4096, 4096, false},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data(c.length);
        const auto out = Run(c.cdb, DataDirection::In, data);
        EXPECT_EQ(out.status, CswStatus::Passed) << c.what;
        EXPECT_EQ(out.dataBytes, c.answered) << c.what;
        EXPECT_EQ(out.endsShort, c.endsShort) << c.what;
        if (c.cdb[1] != cmd::ReadFlashId) {
            EXPECT_TRUE(std::equal(data.begin(), data.begin() + c.answered, written.begin())) << c.what;
        }
    }
}

}  // namespace
}  // namespace brev::gadget
