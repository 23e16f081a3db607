// The download job's start checks, its dispatch and the internal NOR flash path.
#include <fstream>

#include "ops/Paths.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string B(const Cdb& cdb) { return Brief(cdb); }

// The commands that write one block: every erase unit it covers, the write, the CRC read.
void ExpectBlock(std::vector<std::string>& out, uint32_t addr, uint32_t len, uint32_t unit) {
    for (uint32_t u = addr / unit; u <= (addr + len - 1) / unit; ++u) {
        out.push_back(B(unit == 0x1000 ? cmd::Erase4KBlock(u * unit) : cmd::Erase64KBlock(u * unit)));
    }
    out.push_back(B(cmd::WritePageBlock(len, addr)));
    out.push_back(B(cmd::GetCrc16Block(len, addr)));
}

struct InternalCase {
    uint32_t dataBytes;
    int use4K;
    std::vector<int> progress;
};

class InternalPath : public OpsRig, public ::testing::WithParamInterface<InternalCase> {};

TEST_P(InternalPath, WritesDataAtZeroBlockZeroLastWithExactNotifications) {
    const InternalCase& c = GetParam();
    auto dev = Attach("sim0");
    // Old contents everywhere: only erasing every unit a block touches gives back the image's data.
    ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(0x40000, 99)));
    const auto data = Pattern(c.dataBytes);
    WriteImage(data);

    ASSERT_TRUE(Download("sim0", c.use4K));

    const uint32_t unit = c.use4K ? 0x1000 : 0x10000;
    std::vector<std::string> expected = {B(cmd::InitBlock({9, 0, 0, 0, 0})), B(cmd::ReadFlashIdBlock())};
    if (c.dataBytes <= 0x10000) {
        ExpectBlock(expected, 0, c.dataBytes, unit);
    } else {
        const uint32_t k = c.dataBytes / unit, r = c.dataBytes % unit;
        for (uint32_t i = 1; i < k; ++i) ExpectBlock(expected, i * unit, unit, unit);
        if (r > 0) ExpectBlock(expected, k * unit, r, unit);
        ExpectBlock(expected, 0, unit, unit);
    }
    expected.push_back(B(cmd::SystemResetBlock()));
    EXPECT_THAT(Commands(), ElementsAreArray(expected));
    for (const auto& e : Trace()) {
        EXPECT_EQ(e.name, "sim0");
        EXPECT_TRUE(e.ok);
    }

    EXPECT_EQ(dev->ReadNor(0, c.dataBytes),
              data);  // flash address 0 holds the first data byte, not the header
    EXPECT_THAT(notifier_.progress("sim0"), ElementsAreArray(c.progress));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressSuccess));
    std::vector<std::string> logs = {"FLASH ID 1640EF"};
    if (c.dataBytes > 0x10000) logs.insert(logs.end(), {text::kWritingData, text::kVerifyingData});
    logs.insert(logs.end(), {text::kDownloadDoneReattach, text::kSpacer});
    EXPECT_THAT(notifier_.logs(), ElementsAreArray(logs));
    for (const auto& n : notifier_.notes()) EXPECT_EQ(n.name, "sim0") << n;

    // Row off first, on again at the very end, then the summary.
    const auto notes = notifier_.notes();
    EXPECT_EQ(notes.front(), (Note{"enable", "sim0", "", 0}));
    EXPECT_EQ(notes[notes.size() - 2], (Note{"enable", "sim0", "", 1}));
    const auto outcomes = notifier_.outcomes("sim0");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].success);
    EXPECT_EQ(outcomes[0].flashId, 0x1640EFu);
    EXPECT_EQ(outcomes[0].bytesWritten, c.dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, InternalPath,
                         ::testing::Values(InternalCase{65536, 0, {5, 10, 100}},                   //
                                           InternalCase{65537, 0, {5, 10, 10, 90, 100}},           //
                                           InternalCase{200000, 0, {5, 10, 10, 36, 63, 90, 100}},  //
                                           InternalCase{
                                               40000, 1, {5, 10, 100}},  // one block, ten 4 KiB units
                                           InternalCase{70000, 1, {5,  10, 10, 14, 19, 24, 28, 33, 38, 42, 47,
                                                                   52, 57, 61, 66, 71, 75, 80, 85, 90, 100}}),
                         [](const auto& testInfo) {
                             return std::to_string(testInfo.param.dataBytes) +
                                    (testInfo.param.use4K ? "_4K" : "_64K");
                         });

TEST_F(OpsRig, CrcMismatchInBlockThreeStopsBeforeBlockZero) {
    auto dev = Attach("sim0");
    sim::FaultConfig faults;
    faults.flipBitInWriteNth = 3;  // blocks go 1, 2, 3, ...: the third write is block 3
    dev->SetFaults(faults);
    const auto data = Pattern(10 * 0x10000);
    WriteImage(data);

    ASSERT_TRUE(Download("sim0"));

    const std::vector<uint8_t> erased(0x10000, 0xFF);
    EXPECT_EQ(dev->ReadNor(0, 0x10000), erased);
    EXPECT_EQ(dev->ReadNor(0x10000, 0x20000),
              std::vector<uint8_t>(data.begin() + 0x10000, data.begin() + 0x30000));
    EXPECT_NE(dev->ReadNor(0x30000, 0x10000),
              std::vector<uint8_t>(data.begin() + 0x30000, data.begin() + 0x40000));
    EXPECT_EQ(Commands().back(), B(cmd::GetCrc16Block(0x10000, 0x30000)));
    EXPECT_THAT(notifier_.progress("sim0"), ElementsAre(5, 10, 10, 18, 26, 100, 100));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressFail));
    EXPECT_THAT(notifier_.logs(), ElementsAre("FLASH ID 1640EF", text::kWritingData, text::kDownloadFailed));
    EXPECT_EQ(notifier_.notes()[notifier_.notes().size() - 2], (Note{"enable", "sim0", "", 1}));
    ASSERT_EQ(notifier_.outcomes("sim0").size(), 1u);
    EXPECT_FALSE(notifier_.outcomes("sim0")[0].success);
    EXPECT_EQ(notifier_.outcomes("sim0")[0].bytesWritten, 0x20000u);
}

TEST_F(OpsRig, AnyFlashIdentityIsLoggedAndTheJobGoesOn) {
    for (uint32_t id : {0u, 0xFFFFFFFFu}) {
        sim::SimDeviceConfig config;
        config.norFlashId = id;
        const std::string name = id == 0 ? "zero" : "ones";
        Attach(name, config);
        WriteImage(Pattern(100));
        ASSERT_TRUE(Download(name));
        EXPECT_THAT(notifier_.images(name), ElementsAre(ProgressLoading, ProgressSuccess));
    }
    EXPECT_EQ(notifier_.logs()[0], "FLASH ID 0");
    EXPECT_EQ(notifier_.logs()[3], "FLASH ID FFFFFFFF");
}

TEST_F(OpsRig, InitOrFlashIdFailureEndsInTheFailureSequence) {
    WriteImage(Pattern(1000));
    for (const std::string name : {"init", "flashid"}) {
        sim::SimDeviceConfig config;
        config.faults.failSubCommand = name == "init" ? cmd::Init : cmd::ReadFlashId;
        config.faults.failNth = 1;
        Attach(name, config);
        ASSERT_TRUE(Download(name));

        std::vector<Note> expected = {{"enable", name, "", 0}, {"image", name, "", ProgressLoading}};
        if (name == "flashid") {
            expected.push_back({"pos", name, "", 5});
            expected.push_back({"log", name, text::kReadFlashIdFailed, 0});
        }
        expected.insert(expected.end(), {{"pos", name, "", 100},
                                         {"pos", name, "", 100},
                                         {"log", name, text::kDownloadFailed, 0},
                                         {"image", name, "", ProgressFail},
                                         {"enable", name, "", 1},
                                         {"finished", name, "", 0}});
        EXPECT_EQ(notifier_.notesFor(name), expected);
    }
}

TEST_F(OpsRig, StartChecksTurnRequestsDown) {
    Attach("sim0");
    StartRequest request;
    request.deviceName = "sim0";

    // No file selected.
    EXPECT_FALSE(Start(request));
    EXPECT_EQ(notifier_.notes(), (std::vector<Note>{{"log", "sim0", text::kChooseAccessibleFile, 0},
                                                    {"box", "", text::kChooseFileBox, 0}}));
    // A random-data test still needs a valid image selected.
    notifier_.clear();
    request.writeRandom = 1;
    EXPECT_FALSE(Start(request));
    EXPECT_EQ(notifier_.notes().back(), (Note{"box", "", text::kChooseFileBox, 0}));

    // Not an update image.
    notifier_.clear();
    request.writeRandom = 0;
    WriteRaw(Pattern(1000));
    EXPECT_FALSE(Start(request));
    EXPECT_EQ(notifier_.notes(), (std::vector<Note>{{"log", "sim0", text::kBadFileFormat, 0},
                                                    {"parse", "", "", ImageBadHeader}}));

    // A device that is not present: nothing at all.
    notifier_.clear();
    WriteImage(Pattern(1000));
    request.deviceName = "sim";
    EXPECT_FALSE(Start(request));
    EXPECT_THAT(notifier_.notes(), IsEmpty());
    EXPECT_THAT(sink_->Lines(), IsEmpty());
}

// A request may name its own file (console mode); the selected one is then left alone.
TEST_F(OpsRig, RequestCanNameItsOwnFile) {
    auto dev = Attach("sim0");
    const auto own = Pattern(5000, 3);
    const auto ownPath = WriteImage(own, 256, "own.up");
    WriteImage(Pattern(5000, 4));  // the selected file
    StartRequest request;
    request.deviceName = "sim0";
    request.filePath = PathToUtf8(ownPath);
    ASSERT_TRUE(Start(request));
    EXPECT_EQ(dev->ReadNor(0, 5000), own);
}

TEST_F(OpsRig, ExternalFlashWithoutFileStartsAndCannotOpenIt) {
    Attach("sim0");
    settings_.setDownloadFilePath("");
    ASSERT_TRUE(Download("sim0", 0, 1));
    EXPECT_EQ(notifier_.notes(), (std::vector<Note>{{"log", "sim0", text::kCannotAccessFile, 0},
                                                    {"box", "", text::kCannotAccessFile, 0},
                                                    {"finished", "sim0", "", 0}}));
    EXPECT_THAT(sink_->Lines(), IsEmpty());
}

TEST_F(OpsRig, EraseOnlyWinsOverRandomData) {
    Attach("sim0");
    StartRequest request;
    request.deviceName = "sim0";
    request.eraseOnly = 1;
    request.writeRandom = 1;
    ASSERT_TRUE(Start(request));  // no file needed
    EXPECT_THAT(Commands(), ElementsAre(B(cmd::InitBlock({9, 0, 0, 0, 0})), B(cmd::EraseChipBlock())));
    EXPECT_THAT(notifier_.logs(), ElementsAre(text::kNorErased));
}

// The file must hold every byte the job writes: a short file fails, a shrinking one stops writing.
TEST_F(OpsRig, FileShorterThanItsDataOrShrinkingFailsWithoutWriting) {
    auto dev = Attach("sim0");
    const auto path = WriteImage(Pattern(200000));
    notifier_.hook = [&](const Note& n) {
        if (n.kind == "log" && n.text == text::kWritingData)
            std::filesystem::resize_file(path, 256 + 0x10000 + 100);
    };
    ASSERT_TRUE(Download("sim0"));
    notifier_.hook = nullptr;

    DownloadJob job;
    job.filePath = PathToUtf8(path);
    job.deviceName = "sim0";
    job.devicePath = present_[0].devicePath;
    job.dataOffset = 0x20000;  // past the end of the (now shorter) file
    RunDownloadJob(env_, job);

    for (const auto& e : Trace()) EXPECT_NE(e.sub(), cmd::WritePage) << Brief(e);
    EXPECT_EQ(dev->ReadNor(0, 0x20000), std::vector<uint8_t>(0x20000, 0xFF));
    const auto logs = notifier_.logs();
    EXPECT_EQ(std::count(logs.begin(), logs.end(), text::kFileReadFailed), 2);
    EXPECT_EQ(std::count(logs.begin(), logs.end(), text::kDownloadFailed), 2);
    EXPECT_THAT(notifier_.images("sim0"),
                ElementsAre(ProgressLoading, ProgressFail, ProgressLoading, ProgressFail));
}

// The device must end up with the bytes that were checked: a block edited in the file after
// its check fails verification, and block 0 is never written.
TEST_F(OpsRig, FileEditedAfterItsCheckFailsAtTheEditedBlock) {
    auto dev = Attach("sim0");
    const auto data = Pattern(8 * 0x10000);
    const auto path = WriteImage(data);
    notifier_.hook = [&](const Note& n) {
        if (n.kind != "log" || n.text != text::kWritingData) return;
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(256 + 5 * 0x10000 + 1234);
        f.put(static_cast<char>(data[5 * 0x10000 + 1234] ^ 0x40));
    };
    ASSERT_TRUE(Download("sim0"));
    notifier_.hook = nullptr;

    // The edited block is compared with its check before its erase: it is never sent.
    EXPECT_EQ(Commands().back(), B(cmd::GetCrc16Block(0x10000, 0x40000)));
    EXPECT_EQ(dev->ReadNor(0x10000, 0x40000),
              std::vector<uint8_t>(data.begin() + 0x10000, data.begin() + 0x50000));
    EXPECT_EQ(dev->ReadNor(0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_THAT(notifier_.logs(), ElementsAre("FLASH ID 1640EF", text::kWritingData, text::kFileReadFailed,
                                              text::kDownloadFailed));
    ASSERT_EQ(notifier_.outcomes("sim0").size(), 1u);
    EXPECT_FALSE(notifier_.outcomes("sim0")[0].success);
}

TEST_F(OpsRig, FileResizedAfterItsCheckIsNotWritten) {
    Attach("sim0");
    const auto path = WriteImage(Pattern(200000));
    CImageChecker checker;
    ASSERT_EQ(checker.Check(path), ImageOk);
    WriteImage(Pattern(300000));  // replaced by a longer, valid image after the check

    DownloadJob job;
    job.filePath = PathToUtf8(path);
    job.deviceName = "sim0";
    job.devicePath = present_[0].devicePath;
    job.dataOffset = 256;
    job.blockCrcs = checker.parser()->GetBlockCrcs();
    RunDownloadJob(env_, job);

    for (const auto& e : Trace()) EXPECT_NE(e.sub(), cmd::WritePage) << Brief(e);
    EXPECT_THAT(notifier_.logs(),
                ElementsAre("FLASH ID 1640EF", text::kFileReadFailed, text::kDownloadFailed));
}

TEST_F(OpsRig, ResetProgramRunsWhenAskedAndIsSkippedWhenItHasNoPayload) {
    auto dev = Attach("sim0");
    WriteImage(Pattern(1000));
    settings_.resetAfterDownloadFlag = 1;
    const auto reset = sim::StandInResetProgram();
    ASSERT_GT(reset.size(), 256u);

    ASSERT_TRUE(Download("sim0"));
    auto commands = Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(commands.end() - 4, commands.end()),
                ElementsAre(B(cmd::InitBlock({9, 0, 0, 0, 0})),
                            B(cmd::WriteRamBlock(static_cast<uint32_t>(reset.size() - 256),
                                                 cmd::kResetProgramLoadAddr)),
                            B(cmd::ExecuteBlock(cmd::kResetProgramExecAddr)), B(cmd::SystemResetBlock())));

    // Exactly the header and nothing after it: nothing is sent, the download still succeeds.
    test::WriteBytes(dir_ / "brevload_files" / "reset.bin",
                     std::vector<uint8_t>(reset.begin(), reset.begin() + 256));
    sink_->ClearLines();
    notifier_.clear();
    ASSERT_TRUE(Download("sim0"));
    for (const auto& e : Trace()) {
        EXPECT_NE(e.sub(), cmd::WriteRam);
        EXPECT_NE(e.sub(), cmd::Execute);
    }
    EXPECT_EQ(Commands().back(), B(cmd::SystemResetBlock()));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressSuccess));

    std::filesystem::remove(dir_ / "brevload_files" / "reset.bin");
    notifier_.clear();
    ASSERT_TRUE(Download("sim0"));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressSuccess));
}

}  // namespace
}  // namespace brev::testing
