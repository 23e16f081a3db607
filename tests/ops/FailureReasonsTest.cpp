// Why a job failed: for each path, a fault of the device (or of the file) against what the
// operator sees, the reason and detail the job reports and what the flash holds afterwards.
#include <cerrno>
#include <optional>
#include <system_error>

#include "ops/DeviceLock.h"
#include "ops/Failure.h"
#include "ops/Paths.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// What the simulator answers for an injected failure.
constexpr const char* kRejected = ": check condition, hardware error: internal target failure (04/44/00)";

sim::FaultConfig FailNth(uint8_t sub, int nth) {
    sim::FaultConfig f;
    f.failSubCommand = sub;
    f.failNth = nth;
    return f;
}
sim::FaultConfig Flip(int nth) {
    sim::FaultConfig f;
    f.flipBitInWriteNth = nth;
    return f;
}
sim::FaultConfig CrcSwap() {
    sim::FaultConfig f;
    f.crcByteSwap = true;
    return f;
}
sim::FaultConfig DropAfter(int commands) {
    sim::FaultConfig f;
    f.dropAfterCommands = commands;
    return f;
}
sim::FaultConfig TimeoutNth(int nth) {
    sim::FaultConfig f;
    f.timeoutNth = nth;
    return f;
}

class Reasons : public OpsRig {
protected:
    std::vector<std::string> LogsOf(const std::string& name) const {
        std::vector<std::string> out;
        for (const Note& n : notifier_.notesFor(name)) {
            if (n.kind == "log") out.push_back(n.text);
        }
        return out;
    }
    JobOutcome OnlyOutcome(const std::string& name) const {
        const auto outcomes = notifier_.outcomes(name);
        EXPECT_EQ(outcomes.size(), 1u);
        return outcomes.empty() ? JobOutcome{} : outcomes.front();
    }
    // A job for a file checked now, run after the test changed the file.
    DownloadJob CheckedJob(const std::string& name, const std::filesystem::path& image) const {
        CImageChecker checker;
        EXPECT_EQ(checker.Check(image), ImageOk);
        DownloadJob job;
        job.filePath = PathToUtf8(image);
        job.deviceName = name;
        job.devicePath = sim::SimBus::PathFor(name);
        job.dataOffset = static_cast<int32_t>(checker.parser()->GetHeaderLength());
        job.blockCrcs = checker.parser()->GetBlockCrcs();
        return job;
    }
};

// --- internal flash -------------------------------------------------------------------------

struct InternalCase {
    const char* name;
    sim::FaultConfig faults;
    const char* reason;
    std::string detail;
    std::vector<std::string> logs;
    int blocksKept;  // blocks from 1 on that hold the image afterwards
};

TEST_F(Reasons, InternalFlash) {
    // Three 64 KiB blocks and a 100-byte tail: blocks 1, 2, the tail at 0x30000, then block 0.
    const auto data = Pattern(3 * 0x10000 + 100);
    WriteImage(data);
    const std::vector<std::string> afterId = {"FLASH ID 1640EF", "正在写入数据...", "数据写入失败"};
    const std::vector<InternalCase> cases = {
        {"init", FailNth(cmd::Init, 1), "init-failed", std::string("Init") + kRejected, {"数据写入失败"}, 0},
        {"flashid",
         FailNth(cmd::ReadFlashId, 1),
         "flash-id-failed",
         std::string("ReadFlashId") + kRejected,
         {"读取FLASH ID失败", "数据写入失败"},
         0},
        {"erase", FailNth(cmd::Erase64K, 2), "erase-failed", std::string("Erase64K at 0x20000") + kRejected,
         afterId, 1},
        {"write", FailNth(cmd::WritePage, 1), "write-failed",
         std::string("WritePage at 0x10000 (65536 bytes)") + kRejected, afterId, 0},
        {"tail", FailNth(cmd::WritePage, 3), "write-failed",
         std::string("WritePage at 0x30000 (100 bytes)") + kRejected, afterId, 2},
        {"crccmd", FailNth(cmd::GetCrc16, 2), "read-failed",
         std::string("GetCrc16 at 0x20000 (65536 bytes)") + kRejected, afterId, 1},
        {"flip", Flip(2), "verify-mismatch",
         "block 2 at 0x20000: the device's checksum differs from the data's", afterId, 1},
        {"swap", CrcSwap(), "verify-mismatch",
         "block 1 at 0x10000: the device's checksum differs from the data's", afterId, 0},
        {"timeout", TimeoutNth(3), "timeout", "Erase64K at 0x10000: timed out", afterId, 0},
        {"drop", DropAfter(4), "device-removed", "GetCrc16 at 0x10000 (65536 bytes): device removed", afterId,
         0},
    };
    for (const InternalCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimDeviceConfig config;
        config.faults = c.faults;
        auto dev = Attach(c.name, config);
        ASSERT_TRUE(Download(c.name));

        EXPECT_EQ(LogsOf(c.name), c.logs);
        EXPECT_THAT(notifier_.images(c.name), ElementsAre(ProgressLoading, ProgressFail));
        const auto progress = notifier_.progress(c.name);
        ASSERT_GE(progress.size(), 2u);
        EXPECT_THAT(std::vector<int>(progress.end() - 2, progress.end()), ElementsAre(100, 100));
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        // Block 0 goes last: no failure leaves a bootable start behind.
        EXPECT_EQ(dev->ReadNor(0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
        for (int b = 1; b <= c.blocksKept; ++b) {
            EXPECT_EQ(dev->ReadNor(b * 0x10000, 0x10000),
                      std::vector<uint8_t>(data.begin() + b * 0x10000, data.begin() + (b + 1) * 0x10000))
                << "block " << b;
        }
    }
}

TEST_F(Reasons, InternalSuccessHasNoReason) {
    auto dev = Attach("sim0");
    const auto data = Pattern(70000);
    WriteImage(data, 512);  // a header longer than the usual 256 bytes
    ASSERT_TRUE(Download("sim0", /*eraseUse4K=*/1));
    const JobOutcome outcome = OnlyOutcome("sim0");
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.reason, "");
    EXPECT_EQ(outcome.detail, "");
    EXPECT_EQ(outcome.bytesWritten, data.size());
    // Flash address 0 holds the first byte after the 512-byte header.
    EXPECT_EQ(dev->ReadNor(0, 70000), data);
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressSuccess));
}

// A file changed after its check: the block whose data differs is not erased, blocks before it
// are written, nothing after it is touched.
TEST_F(Reasons, InternalFileChangedAfterItsCheckLeavesThatBlockAsItWas) {
    auto dev = Attach("sim0");
    const std::vector<uint8_t> old(4 * 0x10000, 0x5A);
    ASSERT_TRUE(dev->WriteNorRaw(0, old));
    const auto data = Pattern(4 * 0x10000);
    const auto image = WriteImage(data);
    const DownloadJob job = CheckedJob("sim0", image);

    auto bytes = test::ReadBytes(image);
    bytes[256 + 2 * 0x10000 + 17] ^= 0x01;  // one bit in block 2, same length
    test::WriteBytes(image, bytes);
    RunDownloadJob(env_, job);

    const JobOutcome outcome = OnlyOutcome("sim0");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.reason, "file-changed");
    EXPECT_EQ(outcome.detail, "block 2 at 0x20000: the file's data differs from the checked image");
    EXPECT_THAT(LogsOf("sim0"),
                ElementsAre("FLASH ID 1640EF", "正在写入数据...", "读取文件失败", "数据写入失败"));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressFail));
    EXPECT_EQ(dev->ReadNor(0x10000, 0x10000),
              std::vector<uint8_t>(data.begin() + 0x10000, data.begin() + 0x20000));
    EXPECT_EQ(dev->ReadNor(0x20000, 0x20000), std::vector<uint8_t>(0x20000, 0x5A));
    EXPECT_EQ(dev->ReadNor(0, 0x10000), std::vector<uint8_t>(0x10000, 0x5A));
    for (const auto& e : Trace()) EXPECT_LT(e.addr(), 0x20000u) << Brief(e);
}

TEST_F(Reasons, InternalFileOfAnotherLengthThanCheckedErasesNothing) {
    auto dev = Attach("sim0");
    const auto image = WriteImage(Pattern(5000));
    const DownloadJob job = CheckedJob("sim0", image);
    auto bytes = test::ReadBytes(image);
    bytes.push_back(0);
    test::WriteBytes(image, bytes);
    RunDownloadJob(env_, job);

    const JobOutcome outcome = OnlyOutcome("sim0");
    EXPECT_EQ(outcome.reason, "file-changed");
    EXPECT_EQ(outcome.detail, "the file holds 5257 bytes, not the checked header and 5000 data bytes");
    EXPECT_THAT(LogsOf("sim0"), ElementsAre("FLASH ID 1640EF", "读取文件失败", "数据写入失败"));
    EXPECT_THAT(Commands(),
                ElementsAre(Brief(cmd::InitBlock({9, 0, 0, 0, 0})), Brief(cmd::ReadFlashIdBlock())));
}

// --- external flash -------------------------------------------------------------------------

struct ExternalCase {
    const char* name;
    sim::FaultConfig faults;
    std::optional<uint32_t> identity;  // the part's identity, when not the default
    const char* reason;
    std::string detail;
    bool identityLogged;
    int sectorsKept;  // sectors that hold the file afterwards; the later ones keep their old bytes
};

TEST_F(Reasons, ExternalFlash) {
    // Two 4 KiB sectors and a 1,808-byte tail.
    const auto file = Pattern(10000);
    WriteRaw(file);
    const std::vector<uint8_t> old(3 * 0x1000, 0x5A);
    const std::string pins = ": no flash answers on the pins PB5, PB6, PB7, PB8";
    const std::vector<ExternalCase> cases = {
        {"flashid",
         FailNth(cmd::LoaderReadFlashId, 1),
         {},
         "flash-id-failed",
         std::string("LoaderReadFlashId") + kRejected,
         false,
         0},
        {"idfffffe", {}, 0xFFFFFE, "no-external-flash", "identity 0xFFFFFE" + pins, false, 0},
        {"idffffff", {}, 0xFFFFFF, "no-external-flash", "identity 0xFFFFFF" + pins, false, 0},
        {"id000000", {}, 0x000000, "no-external-flash", "identity 0x0" + pins, false, 0},
        {"erase",
         FailNth(cmd::LoaderErase4K, 2),
         {},
         "erase-failed",
         std::string("LoaderErase4K at 0x1000") + kRejected,
         true,
         1},
        {"write",
         FailNth(cmd::LoaderWrite, 2),
         {},
         "write-failed",
         std::string("LoaderWrite at 0x1000 (4096 bytes)") + kRejected,
         true,
         1},
        {"tail",
         FailNth(cmd::LoaderWrite, 3),
         {},
         "write-failed",
         std::string("LoaderWrite at 0x2000 (1808 bytes)") + kRejected,
         true,
         2},
        {"crccmd",
         FailNth(cmd::LoaderGetCrc16, 1),
         {},
         "read-failed",
         std::string("LoaderGetCrc16 at 0x0 (4096 bytes)") + kRejected,
         true,
         0},
        {"flip",
         Flip(2),
         {},
         "verify-mismatch",
         "block 1 at 0x1000: the device's checksum differs from the data's",
         true,
         1},
        {"drop",
         DropAfter(5),
         {},
         "device-removed",
         "LoaderGetCrc16 at 0x0 (4096 bytes): device removed",
         true,
         0},
    };
    for (const ExternalCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimDeviceConfig config;
        config.faults = c.faults;
        if (c.identity) config.exFlashId = *c.identity;
        auto dev = Attach(c.name, config);
        ASSERT_TRUE(dev->WriteExFlashRaw(0, old));
        StartRequest r;
        r.deviceName = c.name;
        r.exFlash = 1;
        ASSERT_TRUE(Start(r));

        std::vector<std::string> logs;
        if (c.identityLogged) logs = {"外部 FLASH ID ef4016", "正在写入数据..."};
        logs.push_back("数据写入失败");
        EXPECT_EQ(LogsOf(c.name), logs);
        EXPECT_THAT(notifier_.images(c.name), ElementsAre(ProgressLoading, ProgressLoading, ProgressFail));
        EXPECT_EQ(notifier_.progress(c.name).back(), 100);
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        EXPECT_EQ(outcome.bytesWritten, c.sectorsKept * 0x1000u);
        for (int s = 0; s < c.sectorsKept; ++s) {
            const uint32_t n = std::min<uint32_t>(0x1000, 10000 - s * 0x1000);
            EXPECT_EQ(dev->ReadExFlash(s * 0x1000, n),
                      std::vector<uint8_t>(file.begin() + s * 0x1000, file.begin() + s * 0x1000 + n))
                << "sector " << s;
        }
        // A sector whose erase failed, and every one after it, keeps what it held.
        if (std::string(c.name) == "erase" || !c.identityLogged) {
            const uint32_t from = c.sectorsKept * 0x1000;
            EXPECT_EQ(dev->ReadExFlash(from, 0x3000 - from), std::vector<uint8_t>(0x3000 - from, 0x5A));
        }
    }
}

TEST_F(Reasons, ExternalLoaderProblemsComeBeforeTheIdentityRead) {
    const auto spi = sim::StandInSpiLoader();
    WriteRaw(Pattern(3000));
    sim::SimDeviceConfig rejects;
    rejects.faults = FailNth(cmd::WriteRam, 1);
    Attach("rejects", rejects);
    StartRequest r;
    r.deviceName = "rejects";
    r.exFlash = 1;
    ASSERT_TRUE(Start(r));
    JobOutcome outcome = OnlyOutcome("rejects");
    EXPECT_EQ(outcome.reason, "init-failed");
    EXPECT_EQ(outcome.detail, "WriteRam at 0x808000 (" + std::to_string(spi.size()) + " bytes)" + kRejected);

    std::filesystem::remove(dir_ / "brevload_files" / "spi.bin");
    Attach("noloader");
    r.deviceName = "noloader";
    ASSERT_TRUE(Start(r));
    outcome = OnlyOutcome("noloader");
    EXPECT_EQ(outcome.reason, "file-unreadable");
    EXPECT_EQ(outcome.detail, "the flash loader spi.bin cannot be read");
    EXPECT_EQ(LogsOf("noloader"), std::vector<std::string>{"数据写入失败"});
}

// --- PC mode --------------------------------------------------------------------------------

struct PcCase {
    const char* name;
    sim::FaultConfig faults;
    const char* reason;
    std::string detail;
    std::vector<std::string> logs;
    std::vector<int> progress;
    int pagesKept;
};

TEST_F(Reasons, PcMode) {
    // Three 256-byte pages and a 232-byte tail.
    const auto data = Pattern(1000);
    WriteImage(data);
    const std::vector<std::string> writing = {"正在擦除...", "正在写入数据...", "数据写入失败"};
    const std::vector<PcCase> cases = {
        {"starterase",
         FailNth(cmd::PcStartErase, 1),
         "erase-failed",
         std::string("PcStartErase") + kRejected,
         {"数据写入失败"},
         {100},
         0},
        {"startwrite",
         FailNth(cmd::PcStartWrite, 1),
         "write-failed",
         std::string("PcStartWrite") + kRejected,
         {"正在擦除...", "数据写入失败"},
         {10, 100},
         0},
        {"write",
         FailNth(cmd::LoaderWrite, 2),
         "write-failed",
         std::string("LoaderWrite at 0x100 (256 bytes)") + kRejected,
         writing,
         {10, 10, 100},
         1},
        {"tail",
         FailNth(cmd::LoaderWrite, 4),
         "write-failed",
         std::string("LoaderWrite at 0x300 (232 bytes)") + kRejected,
         writing,
         {10, 10, 36, 63, 90, 100},
         3},
        {"crccmd",
         FailNth(cmd::LoaderGetCrc16, 1),
         "read-failed",
         std::string("LoaderGetCrc16 at 0x0 (256 bytes)") + kRejected,
         writing,
         {10, 100},
         0},
        {"flip",
         Flip(3),
         "verify-mismatch",
         "block 2 at 0x200: the device's checksum differs from the data's",
         writing,
         {10, 10, 36, 100},
         2},
        {"drop",
         DropAfter(3),
         "device-removed",
         "LoaderGetCrc16 at 0x0 (256 bytes): device removed",
         writing,
         {10, 100},
         0},
    };
    for (const PcCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto config = sim::SimDeviceConfig::PcMode();
        config.faults = c.faults;
        auto dev = Attach(c.name, config);
        ASSERT_TRUE(Download(c.name));

        EXPECT_EQ(LogsOf(c.name), c.logs);
        EXPECT_EQ(notifier_.progress(c.name), c.progress);
        EXPECT_THAT(notifier_.images(c.name), ElementsAre(ProgressLoading, ProgressLoading, ProgressFail));
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        EXPECT_EQ(outcome.bytesWritten, c.pagesKept * 256u);
        EXPECT_EQ(dev->ReadPcUpdateArea(0, c.pagesKept * 256),
                  std::vector<uint8_t>(data.begin(), data.begin() + c.pagesKept * 256));
    }
}

TEST_F(Reasons, PcModeFileCheckedBeforeTheDeviceErases) {
    auto pc = Attach("pc0", sim::SimDeviceConfig::PcMode());
    const auto data = Pattern(5000);
    const auto image = WriteImage(data);

    // Another length: nothing reaches the device.
    DownloadJob job = CheckedJob("pc0", image);
    job.pcModeDevice = true;
    auto bytes = test::ReadBytes(image);
    test::WriteBytes(image, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    RunDownloadJob(env_, job);
    JobOutcome outcome = OnlyOutcome("pc0");
    EXPECT_EQ(outcome.reason, "file-changed");
    EXPECT_EQ(outcome.detail, "the file holds 5255 bytes, not the checked header and 5000 data bytes");
    EXPECT_THAT(LogsOf("pc0"), ElementsAre("读取文件失败", "数据写入失败"));
    EXPECT_TRUE(Commands().empty());

    // Same length, one byte of the second granule changed: pages are written up to that granule
    // and none of it.
    notifier_.clear();
    test::WriteBytes(image, bytes);
    job = CheckedJob("pc0", image);
    job.pcModeDevice = true;
    bytes[256 + 0x1000 + 300] ^= 0x80;
    test::WriteBytes(image, bytes);
    RunDownloadJob(env_, job);
    outcome = OnlyOutcome("pc0");
    EXPECT_EQ(outcome.reason, "file-changed");
    EXPECT_EQ(outcome.detail, "page 16 at 0x1000: the file's data differs from the checked image");
    EXPECT_THAT(LogsOf("pc0"), ElementsAre("正在擦除...", "正在写入数据...", "读取文件失败", "数据写入失败"));
    EXPECT_EQ(outcome.bytesWritten, 0x1000u);
    EXPECT_EQ(pc->ReadPcUpdateArea(0, 0x1000), std::vector<uint8_t>(data.begin(), data.begin() + 0x1000));
    for (const auto& e : Trace()) EXPECT_LT(e.addr(), 0x1000u) << Brief(e);
}

// --- read-back ------------------------------------------------------------------------------

struct ReadBackCase {
    const char* name;
    sim::FaultConfig faults;
    const char* reason;
    std::string detail;
    uint32_t chunksKept;
};

TEST_F(Reasons, ReadBack) {
    const std::vector<ReadBackCase> cases = {
        {"read", FailNth(cmd::Read, 5), "read-failed",
         std::string("Read at 0x40000 (65536 bytes)") + kRejected, 4},
        // Init's answer is not examined, but when the reads then fail it is the first failure.
        {"init", FailNth(cmd::Init, 1), "init-failed", std::string("Init") + kRejected, 0},
        {"timeout", TimeoutNth(2), "timeout", "Read at 0x0 (65536 bytes): timed out", 0},
        {"drop", DropAfter(3), "device-removed", "Read at 0x20000 (65536 bytes): device removed", 2},
    };
    for (const ReadBackCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimDeviceConfig config;
        config.faults = c.faults;
        auto dev = Attach(c.name, config);
        ASSERT_TRUE(dev->WriteNorRaw(0, Pattern(kReadBackSize)));
        const auto output = dir_ / (std::string(c.name) + ".bin");
        ASSERT_TRUE(StartReadBack(env_, present_, c.name, output));
        registry_->WaitAll();

        // Nothing of a failed read is kept in the file.
        EXPECT_FALSE(std::filesystem::exists(output));
        EXPECT_EQ(OnlyOutcome(c.name).bytesWritten, uint64_t{c.chunksKept} * kReadBackChunk);
        EXPECT_THAT(notifier_.images(c.name), ElementsAre(ProgressLoading, ProgressFail));
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
    }
}

TEST_F(Reasons, ReadBackOutputThatCannotBeWritten) {
    Attach("sim0");
    const auto missing = dir_ / "no-such-folder" / "read.bin";
    ASSERT_TRUE(StartReadBack(env_, present_, "sim0", missing));
    registry_->WaitAll();
    JobOutcome outcome = OnlyOutcome("sim0");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.reason, "output-unwritable");
    EXPECT_EQ(outcome.detail, "cannot create " + PathToUtf8(missing) + ": " +
                                  std::make_error_code(std::errc::no_such_file_or_directory).message());
    EXPECT_TRUE(notifier_.images("sim0").empty());

#ifdef __linux__
    // Every write fails on /dev/full: the job must not count the chunk as read.
    notifier_.clear();
    ASSERT_TRUE(StartReadBack(env_, present_, "sim0", "/dev/full"));
    registry_->WaitAll();
    outcome = OnlyOutcome("sim0");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.reason, "output-unwritable");
    EXPECT_EQ(outcome.detail,
              "cannot write /dev/full: " + std::make_error_code(std::errc::no_space_on_device).message());
    EXPECT_EQ(outcome.bytesWritten, 0u);
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressFail));
#endif
}

// --- erase-only and random-data test ----------------------------------------------------------

TEST_F(Reasons, EraseOnlyAndRandomTest) {
    struct Case {
        const char* name;
        int eraseOnly;
        sim::FaultConfig faults;
        const char* reason;
        std::string detail;
    };
    const std::vector<Case> cases = {
        {"erase-init", 1, FailNth(cmd::Init, 1), "init-failed", std::string("Init") + kRejected},
        {"erase-chip", 1, FailNth(cmd::EraseChip, 1), "erase-failed", std::string("EraseChip") + kRejected},
        {"random-init", 0, FailNth(cmd::Init, 1), "init-failed", std::string("Init") + kRejected},
        {"random-write", 0, FailNth(cmd::WritePage, 3), "write-failed",
         std::string("WritePage at 0x20000 (65536 bytes)") + kRejected},
        {"random-flip", 0, Flip(2), "verify-mismatch",
         "block 1 at 0x10000: the device's checksum differs from the data's"},
        {"random-check", 0, FailNth(cmd::GetCrc16, 9), "read-failed",
         std::string("GetCrc16 at 0x0 (65536 bytes)") + kRejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimDeviceConfig config;
        config.faults = c.faults;
        Attach(c.name, config);
        DownloadJob job;
        job.deviceName = c.name;
        job.devicePath = sim::SimBus::PathFor(c.name);
        job.eraseOnly = c.eraseOnly;
        job.writeRandom = 1 - c.eraseOnly;
        RunDownloadJob(env_, job);
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
    }
}

// --- how a transfer failed ----------------------------------------------------------------------

// Answers one chosen command with a given result instead of passing it on; can refuse opens.
class OverrideBackend : public IPassThroughBackend {
public:
    OverrideBackend(std::shared_ptr<IPassThroughBackend> inner, uint8_t sub, TransferResult result,
                    OpenError openError)
        : inner_(std::move(inner)), sub_(sub), result_(result), openError_(openError) {}

    std::vector<VolumeRef> ListVolumes() override { return inner_->ListVolumes(); }
    DriveType QueryDriveType(const std::string& name, const std::string& path) override {
        return inner_->QueryDriveType(name, path);
    }
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override {
        if (openError_ != OpenError::None) {
            if (err != nullptr) *err = openError_;
            return nullptr;
        }
        return std::make_unique<Handle>(inner_->OpenVolume(name, path, err), sub_, result_);
    }

private:
    class Handle : public IPassThroughHandle {
    public:
        Handle(std::unique_ptr<IPassThroughHandle> inner, uint8_t sub, TransferResult result)
            : inner_(std::move(inner)), sub_(sub), result_(result) {}
        bool Identify(VolumeIdentity& out) override { return inner_->Identify(out); }
        TransferResult Execute(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                               uint32_t timeoutMs) override {
            if (cdb != nullptr && cdb[1] == sub_) return result_;
            return inner_->Execute(cdb, dir, data, length, timeoutMs);
        }

    private:
        std::unique_ptr<IPassThroughHandle> inner_;
        uint8_t sub_;
        TransferResult result_;
    };

    std::shared_ptr<IPassThroughBackend> inner_;
    uint8_t sub_;
    TransferResult result_;
    OpenError openError_;
};

TransferResult Result(TransferStatus status, int osError = 0, uint8_t scsiStatus = 0, uint32_t residual = 0) {
    TransferResult r;
    r.status = status;
    r.osError = osError;
    r.scsiStatus = scsiStatus;
    r.residual = residual;
    return r;
}

TEST_F(Reasons, HowTheTransferFailedDecidesOverTheStep) {
    struct Case {
        const char* name;
        uint8_t sub;
        TransferResult result;
        OpenError openError;
        const char* reason;
        std::string detail;
    };
    const std::vector<Case> cases = {
        {"short", cmd::ReadFlashId, Result(TransferStatus::ShortTransfer, 0, 0, 2), OpenError::None,
         "short-transfer", "ReadFlashId: short transfer, 2 bytes not moved"},
        {"scsibusy", cmd::Init, Result(TransferStatus::CheckCondition, 0, 0x08), OpenError::None, "busy",
         "Init: busy"},
        {"host", cmd::WritePage, Result(TransferStatus::HostError), OpenError::None, "write-failed",
         "WritePage at 0x0 (1000 bytes): host adapter error"},
        {"denied",
         cmd::Init,
         {},
         OpenError::PermissionDenied,
         "permission",
         "Open denied: permission denied"},
        {"inuse", cmd::Init, {}, OpenError::Busy, "busy", "Open inuse: in use by another program"},
#ifndef _WIN32
        {"eintr", cmd::Init, Result(TransferStatus::OsError, EINTR), OpenError::None, "interrupted",
         "Init: system error: " + std::system_category().message(EINTR)},
        {"ebusy", cmd::Init, Result(TransferStatus::OsError, EBUSY), OpenError::None, "busy",
         "Init: system error: " + std::system_category().message(EBUSY)},
        {"eacces", cmd::Init, Result(TransferStatus::OsError, EACCES), OpenError::None, "permission",
         "Init: system error: " + std::system_category().message(EACCES)},
        {"eio", cmd::GetCrc16, Result(TransferStatus::OsError, EIO), OpenError::None, "read-failed",
         "GetCrc16 at 0x0 (1000 bytes): system error: " + std::system_category().message(EIO)},
#endif
    };
    WriteImage(Pattern(1000));
    const auto plain = env_.backend;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attach(c.name);
        env_.backend = std::make_shared<OverrideBackend>(plain, c.sub, c.result, c.openError);
        ASSERT_TRUE(Download(c.name));
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        EXPECT_THAT(notifier_.images(c.name), ElementsAre(ProgressLoading, ProgressFail));
    }
}

TEST_F(Reasons, AFileTheJobCannotOpenIsUnreadable) {
    Attach("sim0");
    DownloadJob job;
    job.filePath = PathToUtf8(dir_ / "gone.up");
    job.deviceName = "sim0";
    job.devicePath = sim::SimBus::PathFor("sim0");
    job.exFlash = 1;
    RunDownloadJob(env_, job);
    const JobOutcome outcome = OnlyOutcome("sim0");
    EXPECT_EQ(outcome.reason, "file-unreadable");
    EXPECT_THAT(outcome.detail, HasSubstr("cannot open " + job.filePath));
    EXPECT_THAT(LogsOf("sim0"), ElementsAre("无法访问文件"));

    // A folder (or a FIFO, which would block the job in its open) is no file to write from.
    std::filesystem::create_directory(dir_ / "folder.bin");
    Attach("sim1");
    job.filePath = PathToUtf8(dir_ / "folder.bin");
    job.deviceName = "sim1";
    job.devicePath = sim::SimBus::PathFor("sim1");
    RunDownloadJob(env_, job);
    EXPECT_EQ(OnlyOutcome("sim1").reason, "file-unreadable");
    EXPECT_THAT(OnlyOutcome("sim1").detail, HasSubstr("not a regular file"));
}

// --- causes around the commands: a short answer, a device gone before its job, a held lock -------

// Locks one key as held by another process; records what was asked and what is held.
class HeldLocks : public IDeviceLocks {
public:
    explicit HeldLocks(std::string heldKey) : heldKey_(std::move(heldKey)) {}
    DeviceLockAttempt TryLock(const std::string& key) override {
        asked.push_back(key);
        DeviceLockAttempt attempt;
        if (key == heldKey_) {
            attempt.busy = true;
            attempt.holder = "process 42";
        } else {
            attempt.lock = std::make_unique<Lock>(*this);
        }
        return attempt;
    }
    std::vector<std::string> asked;
    int held = 0;

private:
    struct Lock : IDeviceLock {
        explicit Lock(HeldLocks& owner) : owner_(owner) { ++owner_.held; }
        ~Lock() override { --owner_.held; }
        HeldLocks& owner_;
    };
    std::string heldKey_;
};

TEST_F(Reasons, CausesAroundTheCommands) {
    WriteImage(Pattern(3 * 0x10000 + 100));
    struct Case {
        const char* name;
        std::function<void(const std::string&)> cause;  // after the device is attached and listed
        const char* reason;
        std::string detail;
        std::vector<std::string> logs;
        bool commandsSent;
    };
    sim::FaultConfig shortCrc;
    shortCrc.shortIn = true;
    shortCrc.shortSubCommand = cmd::GetCrc16;
    shortCrc.shortBytes = 1;
    auto locks = std::make_shared<HeldLocks>("port-0-9");
    const std::vector<Case> cases = {
        {"short",
         nullptr,
         "short-transfer",
         "GetCrc16 at 0x10000 (65536 bytes): short transfer, 1 bytes not moved",
         {"FLASH ID 1640EF", "正在写入数据...", "数据写入失败"},
         true},
        {"gone",
         [&](const std::string& name) { bus_->Detach(name); },
         "open-failed",
         "Open gone: not found",
         {"数据写入失败"},
         false},
        // Another process holds the device's port: nothing is sent, the operator is told it is busy.
        {"locked",
         [&](const std::string&) { present_.back().location.portPath = "0-9"; },
         "busy",
         "the lock of port-0-9 is held by process 42",
         {"设备locked正在操作中，请等待完成"},
         false},
    };
    env_.deviceLocks = locks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink_->ClearLines();
        sim::SimDeviceConfig config;
        if (std::string(c.name) == "short") config.faults = shortCrc;
        Attach(c.name, config);
        if (c.cause) c.cause(c.name);
        ASSERT_TRUE(Download(c.name));
        const JobOutcome outcome = OnlyOutcome(c.name);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        EXPECT_EQ(LogsOf(c.name), c.logs);
        EXPECT_EQ(!Commands().empty(), c.commandsSent);
        EXPECT_EQ(locks->held, 0);  // released when the job ended
    }
    // The lock's key: the port path when the device has one, else what opens it.
    EXPECT_THAT(locks->asked, ElementsAre("sim:short", "sim:gone", "port-0-9"));

    // A read-back takes the same lock.
    notifier_.clear();
    ASSERT_TRUE(StartReadBack(env_, present_, "locked", dir_ / "locked.bin"));
    registry_->WaitAll();
    const JobOutcome read = OnlyOutcome("locked");
    EXPECT_EQ(read.reason, "busy");
    EXPECT_EQ(LogsOf("locked"), std::vector<std::string>{"设备locked正在操作中，请等待完成"});
}

// --- the operator's texts, byte for byte --------------------------------------------------------

TEST(OperatorTexts, AreTheOperatorsWords) {
    const std::vector<std::pair<const char*, const char*>> texts = {
        {text::kChooseAccessibleFile, "需要选择一个可访问的文件"},
        {text::kChooseFileBox, "请选择一个文件"},
        {text::kBadFileFormat, "文件格式不正确"},
        {text::kCannotAccessFile, "无法访问文件"},
        {text::kDeviceBusy, "设备%s正在操作中，请等待完成"},
        {text::kEnterPinConfig, "请输入正确的IO配置"},
        {text::kReadFlashIdFailed, "读取FLASH ID失败"},
        {text::kFlashId, "FLASH ID %X"},
        {text::kExternalFlashId, "外部 FLASH ID %x"},
        {text::kWritingData, "正在写入数据..."},
        {text::kVerifyingData, "正在校验数据..."},
        {text::kErasing, "正在擦除..."},
        {text::kFileReadFailed, "读取文件失败"},
        {text::kDownloadDoneReattach, "数据写入完成，若想再次升级，请重新接入设备"},
        {text::kDownloadDone, "数据写入完成"},
        {text::kDownloadDoneRestart, "数据写入完成，请重启设备"},
        {text::kSpacer, "      "},
        {text::kDownloadFailed, "数据写入失败"},
        {text::kDeviceInitFailed, "设备初始化失败"},
        {text::kNorErased, "Nor Flash已经擦除完毕"},
        {text::kNorEraseFailed, "Nor Flash擦除失败"},
        {text::kReadFileBusy, "文件%s正在写入中，请等待读取完成"},
    };
    for (const auto& [constant, literal] : texts) EXPECT_STREQ(constant, literal);
}

}  // namespace
}  // namespace brev::testing
