// Read-back of the first MiB into read.bin.
#include "ops/Paths.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct ReadBackCase {
    int failNth;  // the Read command that fails; 0 for none
    std::vector<int> progress;
    int image;
};

class ReadBack : public OpsRig, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBack, CopiesTheFirstMebibyteChunkByChunk) {
    const ReadBackCase& c = GetParam();
    sim::SimDeviceConfig config;
    config.faults.failSubCommand = cmd::Read;
    config.faults.failNth = c.failNth;
    auto dev = Attach("sim0", config);
    ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(kReadBackSize)));
    settings_.busClkDiv = 12;
    settings_.busLineMode = 1;
    settings_.busChipSelIndirect = 2;
    settings_.busChipSelDirect = 3;
    settings_.busChipType = 4;
    const auto output = dir_ / "read.bin";
    const std::string old(3 << 20, 'x');  // an old, longer file
    test::WriteText(output, old);

    ASSERT_TRUE(StartReadBack(env_, present_, "sim0"));
    registry_->WaitAll();

    // Whole or not at all: a failed read leaves the old file as it was, and no temporary file.
    const uint32_t chunks = c.failNth == 0 ? 16 : c.failNth - 1;
    if (c.failNth == 0)
        EXPECT_EQ(test::ReadBytes(output), dev->ReadNor(0, kReadBackSize));
    else
        EXPECT_EQ(test::ReadText(output), old);
    for (const auto& e : std::filesystem::directory_iterator(dir_))
        EXPECT_FALSE(e.path().extension() == ".tmp") << e.path();
    const auto trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(Brief(trace[0]), Brief(cmd::InitBlock({12, 1, 2, 3, 4})));
    EXPECT_THAT(std::vector<uint8_t>(trace[0].cdb.begin() + 2, trace[0].cdb.begin() + 7),
                ElementsAre(12, 1, 2, 3, 4));
    for (uint32_t i = 1; i < trace.size(); ++i) {
        EXPECT_EQ(Brief(trace[i]), Brief(cmd::ReadBlock(kReadBackChunk, (i - 1) * kReadBackChunk)));
    }
    EXPECT_EQ(trace.size(), 1 + (c.failNth == 0 ? 16u : uint32_t(c.failNth)));
    EXPECT_THAT(notifier_.progress("sim0"), ElementsAreArray(c.progress));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, c.image));
    EXPECT_TRUE(notifier_.logs().empty());
    const auto outcomes = notifier_.outcomes("sim0");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes.front().success, c.failNth == 0);
    EXPECT_EQ(outcomes.front().bytesWritten, uint64_t{chunks} * kReadBackChunk);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ReadBack,
                         ::testing::Values(ReadBackCase{0,
                                                        {6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81,
                                                         87, 93, 100, 100},
                                                        ProgressSuccess},
                                           ReadBackCase{5, {6, 12, 18, 25, 100}, ProgressFail}),
                         [](const auto& testInfo) {
                             return testInfo.param.failNth == 0
                                        ? std::string("Complete")
                                        : "FailsOnRead" + std::to_string(testInfo.param.failNth);
                         });

// Every read-back writes the same file: a second one waits its turn instead of mixing chunks into it.
TEST_F(OpsRig, SecondReadBackOfTheSameFileIsRefused) {
    Attach("sim0");
    Attach("sim1");
    Gate gate;
    notifier_.hook = [&](const Note& n) {
        if (n.kind == "pos" && n.name == "sim0" && n.value == 6) gate.Reach();
    };
    ASSERT_TRUE(StartReadBack(env_, present_, "sim0"));
    gate.WaitReached();

    EXPECT_FALSE(StartReadBack(env_, present_, "sim1"));
    EXPECT_FALSE(StartReadBack(env_, present_, "sim0"));
    const auto path = PathToUtf8(dir_ / "read.bin");
    EXPECT_EQ(notifier_.notesFor("sim1"),
              (std::vector<Note>{{"log", "sim1", text::FillText(text::kReadFileBusy, path), 0}}));
    EXPECT_EQ(notifier_.notesFor("sim0").back(),
              (Note{"log", "sim0", text::FillText(text::kDeviceBusy, "sim0"), 0}));
    // Another file is another matter.
    EXPECT_TRUE(StartReadBack(env_, present_, "sim1", dir_ / "other.bin"));

    gate.Open();
    registry_->WaitAll();
    notifier_.hook = nullptr;
    for (const auto& name : {"sim0", "sim1"}) {
        EXPECT_THAT(notifier_.outcomes(name), ElementsAre(::testing::Field(&JobOutcome::success, true)))
            << name;
    }
    EXPECT_TRUE(StartReadBack(env_, present_, "sim1"));  // the file is free again
    registry_->WaitAll();
    EXPECT_EQ(std::filesystem::file_size(dir_ / "read.bin"), kReadBackSize);
}

TEST_F(OpsRig, ReadBackOfAnUnknownDeviceDoesNothing) {
    Attach("sim0");
    EXPECT_FALSE(StartReadBack(env_, present_, "sim"));
    EXPECT_TRUE(notifier_.notes().empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "read.bin"));
}

}  // namespace
}  // namespace brev::testing
