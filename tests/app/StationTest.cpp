// The engine under both faces: its backend stack, its scan, its simulated fleet and its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "app/Station.h"
#include "device/sim/SimBus.h"
#include "image/ImageChecker.h"
#include "ops/Jobs.h"
#include "tests/support/Pattern.h"
#include "tests/support/QuietNotifier.h"
#include "tests/support/TempDir.h"

namespace brev::test {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

class CountingNotifier : public QuietNotifier {
public:
    void JobFinished(const std::string&, const JobOutcome& outcome) override {
        if (outcome.success) ++succeeded;
    }
    std::atomic<int> succeeded{0};
};

// The simulated bus, except that one volume may be seen but not opened.
class DeniedVolumeBackend : public sim::SimBackend {
public:
    DeniedVolumeBackend(std::shared_ptr<sim::SimBus> bus, std::string denied)
        : SimBackend(std::move(bus)), denied_(std::move(denied)) {}
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string& name, const std::string& path,
                                                   OpenError* err) override {
        if (name != denied_) return SimBackend::OpenVolume(name, path, err);
        if (err) *err = OpenError::PermissionDenied;
        return nullptr;
    }
    std::string OpenErrorHint(const std::string&, const std::string&, OpenError) override {
        return "ask for access";
    }

private:
    std::string denied_;
};

std::unique_ptr<Station> OpenOrFail(StationOptions options) {
    std::string error;
    auto station = Station::Open(std::move(options), error);
    EXPECT_TRUE(station) << error;
    return station;
}

StationOptions Simulated(int download, int pc) {
    StationOptions options;
    options.simulation = SimFleetOptions{};
    options.simulation->downloadDevices = download;
    options.simulation->pcDevices = pc;
    return options;
}

std::vector<std::string> Names(const std::vector<PresentDevice>& devices) {
    std::vector<std::string> names;
    for (const PresentDevice& d : devices) names.push_back(d.name);
    return names;
}

// Downloads `data` to `name` through the station's own stack; true when the job succeeded.
bool Download(Station& station, const std::string& name, const std::vector<uint8_t>& data,
              const std::filesystem::path& imageFile) {
    EXPECT_TRUE(WriteUpdateImage(imageFile, data));
    CountingNotifier notifier;
    StartRequest request;
    request.deviceName = name;
    request.filePath = imageFile.string();
    EXPECT_TRUE(StartDownloadJob(station.Environment(&notifier), station.Scan(), request));
    station.registry().WaitAll();
    return notifier.succeeded == 1;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    std::istringstream in(ReadText(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(StationTest, TraceRecordsEveryTransferThatCountingCounts) {
    TempDir tmp;
    StationOptions options = Simulated(2, 0);
    options.traceFile = tmp / "trace.txt";
    WriteText(options.traceFile, "an earlier run\n");
    auto station = OpenOrFail(std::move(options));
    ASSERT_TRUE(station);

    // Tracing sits on top of counting, which sits on the devices.
    const auto* tracing = dynamic_cast<const TracingBackend*>(station->backend().get());
    ASSERT_NE(tracing, nullptr);
    EXPECT_EQ(tracing->inner().get(), &station->counting());

    const auto data = Pattern(3 * 4096 + 5);
    ASSERT_TRUE(Download(*station, "sim1", data, tmp / "fw.up"));
    EXPECT_EQ(station->fleet()->device("sim1")->ReadNor(0, static_cast<uint32_t>(data.size())), data);

    // "NAME DIR CDBHEX LEN STATUS": the data bytes of the successful transfers, per device. The
    // file takes the earlier run's place when the station finishes.
    EXPECT_EQ(ReadLines(tmp / "trace.txt"), std::vector<std::string>{"an earlier run"});
    std::string error;
    ASSERT_TRUE(station->Finish(error)) << error;
    uint64_t traced = 0;
    const auto lines = ReadLines(tmp / "trace.txt");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front(), "an earlier run");
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        std::string name, dir, cdb, status;
        uint64_t length = 0;
        fields >> name >> dir >> cdb >> length >> status;
        EXPECT_EQ(name, "sim1") << line;
        if (status == "ok") traced += length;
    }
    EXPECT_GT(traced, data.size());
    EXPECT_EQ(station->counting().BytesFor("sim1"), traced);
    EXPECT_EQ(station->counting().BytesFor("sim0"), 0u);
}

// Scan and Probe find the same devices and word a permission problem the same way.
TEST(StationTest, ScanAndProbeReportOnePermissionText) {
    TempDir tmp;
    auto bus = std::make_shared<sim::SimBus>();
    bus->Attach("sim0", std::make_shared<sim::SimDevice>(sim::SimDeviceConfig{}));
    bus->Attach("sim1", std::make_shared<sim::SimDevice>(sim::SimDeviceConfig{}));
    StationOptions options;
    options.backend = std::make_shared<DeniedVolumeBackend>(bus, "sim1");
    options.events = bus.get();
    options.folders = FoldersUnder(tmp.path());
    auto station = OpenOrFail(std::move(options));
    ASSERT_TRUE(station);
    std::vector<std::string> problems;
    station->SetProblemReporter([&](const std::string& text) { problems.push_back(text); });

    EXPECT_THAT(Names(station->Scan()), ElementsAre("sim0"));
    const std::optional<PresentDevice> probed = station->Probe({"sim1", sim::SimBus::PathFor("sim1")});
    EXPECT_FALSE(probed);
    const std::string expected = "cannot open sim1 (sim:sim1): permission denied. ask for access";
    EXPECT_THAT(problems, ElementsAre(expected, expected));

    const std::optional<PresentDevice> found = station->Probe({"sim0", sim::SimBus::PathFor("sim0")});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->devicePath, "sim:sim0");
    EXPECT_EQ(problems.size(), 2u);  // a device that opens is no problem
    EXPECT_EQ(station->Events(), bus.get());
    // Devices of a given backend are this process's own: their jobs never meet other processes'
    // locks in the system's folder (parallel test processes all have a sim0 at port 0-1).
    EXPECT_EQ(station->Environment(nullptr).deviceLocks, nullptr);
}

// What opening the station had to say (here: a records file that cannot be opened) reaches the
// first reporter, once.
TEST(StationTest, ProblemsMetWhileOpeningReachTheFirstReporter) {
    TempDir tmp;
    std::filesystem::create_directories(tmp / "records.sqlite");  // a folder, not a database
    StationOptions options;
    options.backend = std::make_shared<sim::SimBackend>(std::make_shared<sim::SimBus>());
    options.folders = FoldersUnder(tmp.path());
    auto station = OpenOrFail(std::move(options));
    ASSERT_TRUE(station);
    EXPECT_FALSE(station->records());
    std::vector<std::string> first, second;
    station->SetProblemReporter([&](const std::string& text) { first.push_back(text); });
    station->SetProblemReporter([&](const std::string& text) { second.push_back(text); });
    ASSERT_EQ(first.size(), 1u);
    EXPECT_THAT(first[0], StartsWith("no records are kept: "));
    EXPECT_TRUE(second.empty());
}

// Download-mode devices are sim0.., PC-mode ones simpc0..; PC-mode devices are served because the
// private folder's mode file allows it exactly when some are simulated.
TEST(StationTest, SimulatedFleetNamesAndPcMode) {
    struct Case {
        int download, pc;
        std::vector<std::string> names;
        int pcUpdateSupport;
    };
    for (const Case& c : {Case{2, 1, {"sim0", "sim1", "simpc0"}, 1}, Case{3, 0, {"sim0", "sim1", "sim2"}, 0},
                          Case{0, 2, {"simpc0", "simpc1"}, 1}}) {
        SCOPED_TRACE(std::to_string(c.download) + " + " + std::to_string(c.pc));
        auto station = OpenOrFail(Simulated(c.download, c.pc));
        ASSERT_TRUE(station);
        const auto found = station->Scan();
        EXPECT_EQ(Names(found), c.names);
        for (const PresentDevice& d : found)
            EXPECT_EQ(IsPcModeProduct(d.productId), d.name.starts_with("simpc"));
        EXPECT_EQ(station->pcUpdateSupport(), c.pcUpdateSupport);
        EXPECT_TRUE(std::filesystem::exists(station->folders().deviceProgramsDir / "spi.bin"));
        EXPECT_TRUE(std::filesystem::exists(station->folders().deviceProgramsDir / "reset.bin"));
        // The private settings name a sample image that passes the check.
        const std::string settings = ReadText(station->folders().settingsFile);
        const auto sample = station->folders().programFolder / "sample.up";
        EXPECT_NE(settings.find(sample.string()), std::string::npos) << settings;
        CImageChecker checker;
        EXPECT_EQ(checker.Check(sample), ImageOk);
        // A further device takes the first free name of its kind.
        EXPECT_EQ(station->fleet()->AttachAnother(true), "simpc" + std::to_string(c.pc));
        EXPECT_EQ(station->fleet()->AttachAnother(false), "sim" + std::to_string(c.download));
    }
}

// After its download the device resets, leaves and arrives again: running PC-mode firmware when
// the mode file allows PC updates, in download mode otherwise.
TEST(StationTest, ADownloadedDeviceComesBackAsTheModeFileSays) {
    for (const int pc : {1, 0}) {
        SCOPED_TRACE(pc);
        TempDir tmp;
        auto station = OpenOrFail(Simulated(1, pc));
        ASSERT_TRUE(station);
        const auto& bus = station->fleet()->bus();
        const uint64_t before = bus->Generation("sim0");
        ASSERT_TRUE(Download(*station, "sim0", Pattern(5000, 8), tmp / "fw.up"));

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((bus->Generation("sim0") == before || bus->Generation("sim0") == 0) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_NE(bus->Generation("sim0"), before);
        const auto found = station->Scan();
        const auto it =
            std::find_if(found.begin(), found.end(), [](const PresentDevice& d) { return d.name == "sim0"; });
        ASSERT_NE(it, found.end());
        EXPECT_EQ(IsPcModeProduct(it->productId), pc == 1) << it->productId;
    }
}

TEST(StationTest, FinishSavesFlashFilesAndRemovesThePrivateFolder) {
    TempDir tmp;
    StationOptions options = Simulated(2, 0);
    options.simulation->flashDir = tmp / "flash";
    auto station = OpenOrFail(options);
    ASSERT_TRUE(station);
    const std::filesystem::path privateFolder = station->folders().programFolder;
    ASSERT_TRUE(std::filesystem::is_directory(privateFolder));

    const auto data = Pattern(2 * 4096 + 100, 11);
    ASSERT_TRUE(Download(*station, "sim0", data, tmp / "fw.up"));
    std::string error;
    EXPECT_TRUE(station->Finish(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(privateFolder));
    const auto saved = ReadBytes(tmp / "flash" / "sim0.flash");
    ASSERT_EQ(saved.size(), sim::SimDeviceConfig{}.norSize);
    EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + static_cast<std::ptrdiff_t>(data.size())),
              data);
    EXPECT_TRUE(std::filesystem::exists(tmp / "flash" / "sim1.exflash"));
    EXPECT_TRUE(station->Finish(error));  // once only
    station.reset();

    // The next run starts from the saved flash.
    station = OpenOrFail(options);
    ASSERT_TRUE(station);
    EXPECT_EQ(station->fleet()->device("sim0")->ReadNor(0, static_cast<uint32_t>(data.size())), data);
}

TEST(StationTest, BadSimulationIsRefusedWithAReason) {
    TempDir tmp;
    WriteText(tmp / "sim0.flash", "too short");
    struct Case {
        std::vector<std::string> faults;
        std::filesystem::path flashDir;
        std::string reason;
    };
    for (const Case& c : {Case{{"sim7:crc-swap"}, {}, "no simulated device 'sim7'"},
                          Case{{"sim0:melt"}, {}, "unknown kind 'melt'"},
                          Case{{"sim0:fail:0x1FF"}, {}, "'0x1FF' is not a valid number"},
                          Case{{}, tmp.path(), "cannot load"}}) {
        SCOPED_TRACE(c.reason);
        StationOptions options = Simulated(1, 0);
        options.simulation->faults = c.faults;
        options.simulation->flashDir = c.flashDir;
        std::string error;
        EXPECT_EQ(Station::Open(std::move(options), error), nullptr);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace brev::test
