// Erase-only and the random-data test.
#include "image/Crc16.h"
#include "ops/Paths.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class EraseRandom : public OpsRig {
protected:
    bool Run(const std::string& name, int eraseOnly, int writeRandom, int eraseUse4K = 0) {
        WriteImage(Pattern(100));  // a random-data request still needs a valid image selected
        StartRequest r;
        r.deviceName = name;
        r.eraseOnly = eraseOnly;
        r.writeRandom = writeRandom;
        r.eraseUse4K = eraseUse4K;
        return Start(r);
    }
};

struct EraseCase {
    uint8_t failSub;  // 0: no fault
    std::vector<std::string> notes;
};

TEST_F(EraseRandom, EraseOnlyOutcomes) {
    const std::vector<EraseCase> cases = {
        {0, {"image 0", "pos 50", "pos 100", std::string("log ") + text::kNorErased, "image 1"}},
        {cmd::Init,
         {std::string("log ") + text::kDeviceInitFailed, "pos 100", "image 2",
          std::string("log ") + text::kNorEraseFailed}},
        {cmd::EraseChip,
         {"image 0", "pos 50", "pos 100", "image 2", std::string("log ") + text::kNorEraseFailed}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "e" + std::to_string(n++);
        sim::SimDeviceConfig config;
        config.faults.failSubCommand = c.failSub;
        config.faults.failNth = c.failSub != 0 ? 1 : 0;
        auto dev = Attach(name, config);
        ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(4096)));
        ASSERT_TRUE(Run(name, 1, 0));

        std::vector<std::string> got;
        for (const auto& note : notifier_.notesFor(name)) {
            if (note.kind == "finished") continue;
            got.push_back(note.kind + " " + (note.kind == "log" ? note.text : std::to_string(note.value)));
        }
        EXPECT_EQ(got, c.notes) << name;
        EXPECT_EQ(dev->ReadNor(0, 4096) == std::vector<uint8_t>(4096, 0xFF), c.failSub == 0) << name;
    }
}

// Started on its own the test needs no image; whoever hears that it ended may start the device's
// next job at once.
TEST_F(EraseRandom, RandomTestStartsWithoutAnImageAndEndsWithTheDeviceFree) {
    auto dev = Attach("sim0");
    bool busyWhenFinished = true, restarted = false;
    int finished = 0;
    notifier_.hook = [&](const Note& n) {
        if (n.kind != "finished" || ++finished > 1) return;
        busyWhenFinished = registry_->IsBusy("sim0");
        restarted = StartRandomTest(env_, present_[0], 1);
    };
    ASSERT_TRUE(StartRandomTest(env_, present_[0], 0));
    registry_->WaitAll();
    notifier_.hook = nullptr;

    EXPECT_FALSE(busyWhenFinished);
    EXPECT_TRUE(restarted);
    const auto outcomes = notifier_.outcomes("sim0");
    ASSERT_EQ(outcomes.size(), 2u);
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.kind, JobOutcome::Kind::RandomTest);
        EXPECT_TRUE(outcome.success);
    }
    EXPECT_THAT(notifier_.logs(), ElementsAre(text::kRandomTestPassed, text::kRandomTestPassed));
    std::vector<uint8_t> expected(kRandomDataSize);
    FillRandomData(expected.data(), expected.size(), 1);
    EXPECT_EQ(dev->ReadNor(0, kRandomDataSize), expected);
    // The second run erased in 4 KiB units.
    EXPECT_EQ(Brief(Trace().back()), Brief(cmd::GetCrc16Block(0x1000, kRandomDataSize - 0x1000)));
}

TEST(RandomData, GeneratorFromSeedOne) {
    uint8_t bytes[4];
    FillRandomData(bytes, sizeof bytes, 1);
    EXPECT_THAT(bytes, ElementsAre(0x29, 0x23, 0xBE, 0x84));
}

struct RandomCase {
    int use4K;
    std::size_t blocks;
    std::vector<int> head, tail;  // first and last progress values
};

class RandomDataTest : public EraseRandom, public ::testing::WithParamInterface<RandomCase> {};

TEST_P(RandomDataTest, WritesAndChecksTheGeneratedData) {
    const RandomCase& c = GetParam();
    auto dev = Attach("sim0");
    ASSERT_TRUE(Run("sim0", 0, 1, c.use4K));

    std::vector<uint8_t> expected(kRandomDataSize);
    FillRandomData(expected.data(), expected.size(), 1);  // the rig's tick count
    EXPECT_EQ(dev->ReadNor(0, kRandomDataSize), expected);

    const auto progress = notifier_.progress("sim0");
    ASSERT_EQ(progress.size(), c.blocks + 1);
    EXPECT_EQ(std::vector<int>(progress.begin(), progress.begin() + c.head.size()), c.head);
    EXPECT_EQ(std::vector<int>(progress.end() - c.tail.size(), progress.end()), c.tail);
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressSuccess));
    EXPECT_THAT(notifier_.logs(), ElementsAre(text::kRandomTestPassed));

    // Write pass then a CRC pass over every block, nothing else after Init.
    const auto trace = Trace();
    const uint32_t unit = c.use4K ? 0x1000 : 0x10000;
    std::size_t crcReads = 0;
    for (const auto& e : trace) crcReads += e.sub() == cmd::GetCrc16 ? 1 : 0;
    EXPECT_EQ(crcReads, 2 * c.blocks);
    EXPECT_EQ(Brief(trace.back()), Brief(cmd::GetCrc16Block(unit, kRandomDataSize - unit)));
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, RandomDataTest,
                         ::testing::Values(RandomCase{0, 8, {0, 11, 22, 33, 45, 56, 67, 78, 100}, {100}},
                                           RandomCase{1, 128, {0, 0, 1, 2, 2}, {87, 88, 89, 100}}),
                         [](const auto& testInfo) { return testInfo.param.use4K ? "4K" : "64K"; });

// A failure anywhere ends the test with the failure image and line, and the bar is never full.
TEST_F(EraseRandom, RandomDataFailures) {
    struct Case {
        uint8_t sub;
        int nth;
        std::vector<int> progress;
    };
    const std::vector<Case> cases = {
        {cmd::Init, 1, {}},
        {cmd::WritePage, 3, {0, 11}},
        {cmd::GetCrc16, 9, {0, 11, 22, 33, 45, 56, 67, 78}},   // the first CRC read of the check pass
        {cmd::GetCrc16, 12, {0, 11, 22, 33, 45, 56, 67, 78}},  // the fourth
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "r" + std::to_string(n++);
        sim::SimDeviceConfig config;
        config.faults.failSubCommand = c.sub;
        config.faults.failNth = c.nth;
        Attach(name, config);
        ASSERT_TRUE(Run(name, 0, 1));
        EXPECT_EQ(notifier_.progress(name), c.progress) << name;
        EXPECT_THAT(notifier_.images(name), ElementsAre(ProgressFail)) << name;
        std::vector<std::string> logs;
        for (const auto& note : notifier_.notesFor(name)) {
            if (note.kind == "log") logs.push_back(note.text);
        }
        std::vector<std::string> want;
        if (c.sub == cmd::Init) want.push_back(text::kDeviceInitFailed);
        want.push_back(text::kRandomTestFailed);
        EXPECT_EQ(logs, want) << name;
        EXPECT_THAT(notifier_.outcomes(name), ElementsAre(::testing::Field(&JobOutcome::success, false)));
    }
}

}  // namespace
}  // namespace brev::testing
