// The external SPI flash path, the PC-mode path and the pin texts.
#include "ops/Paths.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::string B(const Cdb& cdb) { return Brief(cdb); }

struct PinCase {
    std::string text;
    int32_t port, pin;
};

class PinText : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinText, ParsesPortAndPin) {
    const PinSetting pin = ParsePinText(GetParam().text);
    EXPECT_EQ(pin.portIndex, GetParam().port);
    EXPECT_EQ(pin.pinNumber, GetParam().pin);
}

INSTANTIATE_TEST_SUITE_P(Texts, PinText,
                         ::testing::Values(PinCase{"pb12", 1, 12}, PinCase{"PX3", 0, 3}, PinCase{"PB", 1, 0},
                                           PinCase{"PD", 3, 0}, PinCase{"pc 15x", 2, 15},
                                           PinCase{"PA-2", 0, -2}, PinCase{"", 0, 0}, PinCase{"P", 0, 0},
                                           PinCase{"pb99999999999", 1, INT32_MAX}, PinCase{"中文5", 0, 5},
                                           PinCase{"pB7", 1, 7},
                                           // A stray byte is one character of its own.
                                           PinCase{"\xF8"
                                                   "b5",
                                                   0, 5},
                                           PinCase{"p\xFF"
                                                   "12",
                                                   0, 12}));

TEST(SpiPinBlockTest, DefaultPinsGiveTheDocumentedBytes) {
    const SpiPinBlock expected = {1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0,
                                  1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(MakeSpiPinBlock(DefaultPinTexts()), expected);
}

class WritePaths : public OpsRig {
protected:
    bool ExternalDownload(const std::string& name, const PinTexts& pins) {
        StartRequest r;
        r.deviceName = name;
        r.exFlash = 1;
        r.pins = pins;
        return Start(r);
    }
};

TEST_F(WritePaths, ExternalFlashWithDefaultPins) {
    auto dev = Attach("sim0");
    const auto file = Pattern(10000);
    WriteRaw(file);
    ASSERT_TRUE(ExternalDownload("sim0", DefaultPinTexts()));

    const auto spi = sim::StandInSpiLoader();
    EXPECT_THAT(Commands(),
                ElementsAre(B(cmd::WriteRamBlock(static_cast<uint32_t>(spi.size()), cmd::kSpiLoaderLoadAddr)),
                            B(cmd::ExecuteBlock(cmd::kSpiLoaderExecAddr)), B(cmd::LoaderReadFlashIdBlock()),
                            B(cmd::LoaderErase4KBlock(0)), B(cmd::LoaderWriteBlock(4096, 0)),
                            B(cmd::LoaderGetCrc16Block(4096, 0)), B(cmd::LoaderErase4KBlock(4096)),
                            B(cmd::LoaderWriteBlock(4096, 4096)), B(cmd::LoaderGetCrc16Block(4096, 4096)),
                            B(cmd::LoaderErase4KBlock(8192)), B(cmd::LoaderWriteBlock(1808, 8192)),
                            B(cmd::LoaderGetCrc16Block(1808, 8192))));
    for (const auto& e : Trace()) EXPECT_EQ(e.cdb[0], 0xC0);
    // The loader ran with the pins it was given, and the whole file (no offset) reached the part.
    const auto pins = dev->loaderPins();
    EXPECT_EQ(pins[0].port, 1);
    EXPECT_EQ(pins[0].pin, 5);
    EXPECT_EQ(pins[3].pin, 8);
    EXPECT_EQ(dev->ReadExFlash(0, 10000), file);
    EXPECT_EQ(dev->ReadNor(0, 16), std::vector<uint8_t>(16, 0xFF));

    EXPECT_THAT(notifier_.progress("sim0"), ElementsAre(0, 45, 90, 100));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressLoading, ProgressSuccess));
    EXPECT_THAT(notifier_.logs(),
                ElementsAre("外部 FLASH ID ef4016", text::kWritingData, text::kDownloadDone, text::kSpacer));
    // The row stays off after this path.
    const auto notes = notifier_.notesFor("sim0");
    EXPECT_EQ(std::count(notes.begin(), notes.end(), Note{"enable", "sim0", "", 1}), 0);
    ASSERT_EQ(notifier_.outcomes("sim0").size(), 1u);
    EXPECT_EQ(notifier_.outcomes("sim0")[0].flashId, 0xEF4016u);
    EXPECT_EQ(notifier_.outcomes("sim0")[0].bytesWritten, 10000u);
}

TEST_F(WritePaths, ExternalFlashWithWrongPinsFailsWithoutIdentityLine) {
    auto dev = Attach("sim0");
    WriteRaw(Pattern(3000));
    ASSERT_TRUE(ExternalDownload("sim0", {"PA1", "PA2", "PA3", "PA4"}));

    EXPECT_EQ(Commands().back(), B(cmd::LoaderReadFlashIdBlock()));
    EXPECT_THAT(notifier_.logs(), ElementsAre(text::kDownloadFailed));
    EXPECT_THAT(notifier_.progress("sim0"), ElementsAre(100));
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressLoading, ProgressFail));
    ASSERT_EQ(notifier_.outcomes("sim0").size(), 1u);
    EXPECT_FALSE(notifier_.outcomes("sim0")[0].success);
    EXPECT_FALSE(notifier_.outcomes("sim0")[0].flashId.has_value());
}

// A loader too short to hold the pin block is not sent; the identity read then fails.
TEST_F(WritePaths, LoaderShorterThanThePinBlockIsNotSent) {
    Attach("sim0");
    WriteRaw(Pattern(3000));
    test::WriteText(dir_ / "brevload_files" / "spi.bin", "short");
    ASSERT_TRUE(ExternalDownload("sim0", DefaultPinTexts()));
    EXPECT_THAT(Commands(), ElementsAre(B(cmd::LoaderReadFlashIdBlock())));
    EXPECT_THAT(notifier_.logs(), ElementsAre(text::kDownloadFailed));
}

struct PcCase {
    int exFlash;  // with exFlash the file is not parsed: the whole file goes out, header included
    uint32_t dataBytes;
    std::vector<int> progress;
};

class PcModePath : public OpsRig, public ::testing::WithParamInterface<PcCase> {};

TEST_P(PcModePath, SendsPagesFromTheDataOffset) {
    const PcCase& c = GetParam();
    auto pc = Attach("pc0", sim::SimDeviceConfig::PcMode());
    const auto data = Pattern(c.dataBytes);
    const auto path = WriteImage(data);
    const uint32_t sent = c.exFlash ? c.dataBytes + 256 : c.dataBytes;

    std::vector<std::chrono::milliseconds> pauses;
    env_.sleep = [&](std::chrono::milliseconds ms) { pauses.push_back(ms); };
    StartRequest r;
    r.deviceName = "pc0";
    r.exFlash = c.exFlash;
    ASSERT_TRUE(Start(r));
    EXPECT_THAT(pauses, ElementsAre(std::chrono::milliseconds(300)));

    std::vector<std::string> expected = {B(cmd::PcStartEraseBlock()), B(cmd::PcStartWriteBlock())};
    for (uint32_t a = 0; a < sent; a += 256) {
        const uint32_t n = std::min<uint32_t>(256, sent - a);
        expected.push_back(B(cmd::LoaderWriteBlock(n, a)));
        expected.push_back(B(cmd::LoaderGetCrc16Block(n, a)));
    }
    EXPECT_THAT(Commands(), ElementsAreArray(expected));
    const std::vector<uint8_t> file = test::ReadBytes(path);
    const std::vector<uint8_t> want = c.exFlash ? file : data;
    EXPECT_EQ(pc->ReadPcUpdateArea(0, sent), want);

    EXPECT_THAT(notifier_.progress("pc0"), ElementsAreArray(c.progress));
    EXPECT_THAT(notifier_.logs(),
                ElementsAre(text::kErasing, text::kWritingData, text::kDownloadDoneRestart, text::kSpacer));
    EXPECT_THAT(notifier_.images("pc0"), ElementsAre(ProgressLoading, ProgressLoading, ProgressSuccess));
}

INSTANTIATE_TEST_SUITE_P(Offsets, PcModePath,
                         ::testing::Values(PcCase{0, 1000, {10, 10, 36, 63, 90, 100}},
                                           PcCase{0, 512, {10, 10, 50, 90, 100}},  // no tail page
                                           PcCase{1, 744, {10, 10, 36, 63, 90, 100}}),
                         [](const auto& testInfo) {
                             return std::to_string(testInfo.param.dataBytes) +
                                    (testInfo.param.exFlash ? "_whole" : "_data");
                         });

// Which path runs depends on the job's own device, not on what else is attached.
TEST_F(WritePaths, PcModePathOnlyForThePcModeDevice) {
    auto normal = Attach("sim0");
    auto pc = Attach("pc0", sim::SimDeviceConfig::PcMode());
    const auto data = Pattern(3000);
    WriteImage(data);

    ASSERT_TRUE(Download("sim0"));
    EXPECT_EQ(normal->ReadNor(0, 3000), data);
    ASSERT_TRUE(Download("pc0"));
    EXPECT_EQ(pc->ReadPcUpdateArea(0, 3000), data);

    for (const auto& e : Trace()) {
        const bool pcCommand = e.sub() == cmd::PcStartErase || e.sub() == cmd::PcStartWrite ||
                               e.sub() == cmd::LoaderWrite || e.sub() == cmd::LoaderGetCrc16;
        EXPECT_EQ(pcCommand, e.name == "pc0") << Brief(e);
    }
    EXPECT_THAT(notifier_.images("sim0"), ElementsAre(ProgressLoading, ProgressSuccess));
    EXPECT_THAT(notifier_.images("pc0"), ElementsAre(ProgressLoading, ProgressLoading, ProgressSuccess));
}

TEST_F(WritePaths, PcModeStartFailureFinishesWithFailure) {
    for (uint8_t sub : {uint8_t{cmd::PcStartErase}, uint8_t{cmd::PcStartWrite}}) {
        auto config = sim::SimDeviceConfig::PcMode();
        config.faults.failSubCommand = sub;
        config.faults.failNth = 1;
        const std::string name = "pc" + std::to_string(sub);
        Attach(name, config);
        WriteImage(Pattern(1000));
        ASSERT_TRUE(Download(name));
        EXPECT_EQ(notifier_.progress(name).back(), 100);
        EXPECT_EQ(notifier_.images(name).back(), ProgressFail);
        EXPECT_EQ(notifier_.logs().back(), text::kDownloadFailed);
        for (const auto& e : Trace()) EXPECT_NE(e.sub(), cmd::LoaderWrite);
    }
}

}  // namespace
}  // namespace brev::testing
