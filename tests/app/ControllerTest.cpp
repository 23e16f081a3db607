// The application controller over the simulated bus, seen through a recording window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/CAppController.h"
#include "app/Console.h"
#include "app/RecordsPush.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"
#include "image/ImageChecker.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/Pattern.h"
#include "tests/support/TempDir.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace brev::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

sim::SimDeviceConfig Download() { return {}; }
sim::SimDeviceConfig PcMode() { return sim::SimDeviceConfig::PcMode(); }
sim::SimDeviceConfig WithProduct(std::string product) {
    sim::SimDeviceConfig c;
    c.product = std::move(product);
    return c;
}
sim::SimDeviceConfig Foreign() {
    sim::SimDeviceConfig c;
    c.vendor = "OTHERCO ";
    return c;
}

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        folders = FoldersUnder(tmp.path());
        ASSERT_TRUE(sim::WriteStandInPrograms(folders.deviceProgramsDir));
    }

    void WriteModeFile(int pcUpdateSupport) {
        std::ofstream(folders.modeFile) << "[MODE]\r\npc_update_support=" << pcUpdateSupport << "\r\n";
    }

    std::shared_ptr<sim::SimDevice> Attach(const std::string& name, sim::SimDeviceConfig config) {
        auto device = std::make_shared<sim::SimDevice>(std::move(config));
        bus->Attach(name, device);
        return device;
    }

    // Devices attached before start-up are found by the scan, not as arrivals.
    std::shared_ptr<sim::SimDevice> AttachBeforeStart(const std::string& name, sim::SimDeviceConfig config) {
        auto device = Attach(name, std::move(config));
        bus->ReadEvents();
        return device;
    }

    std::filesystem::path WriteImage(const std::string& fileName, const std::vector<uint8_t>& data) {
        auto path = tmp.path() / fileName;
        EXPECT_TRUE(WriteUpdateImage(path, data));
        return path;
    }

    CAppController& Start(std::vector<std::string> arguments = {"brevload"}) {
        controller.reset();
        station = OpenStation(arguments);
        AppServices s;
        s.station = station.get();
        s.createWindow = [this](CAppController& c) {
            auto w = std::make_unique<RecordingWindow>(c);
            window = w.get();
            return w;
        };
        s.timers = &timers;
        s.arguments = std::move(arguments);
        s.readDataPath = tmp.path() / "readData.bin";
        s.openConsole = [this]() -> std::ostream* { return consoleAvailable ? &console : nullptr; };
        s.installCrashHandler = false;
        controller = std::make_unique<CAppController>(std::move(s));
        EXPECT_TRUE(controller->Run());
        return *controller;
    }

    // As the window's main opens it.
    std::unique_ptr<Station> OpenStation(const std::vector<std::string>& arguments = {"brevload"}) {
        StationOptions o;
        ApplyRecordOptions(ParseCommandLine(arguments), o);
        o.backend = backend;
        o.events = bus.get();
        o.folders = folders;
        o.sleep = [](std::chrono::milliseconds) {};
        std::string error;
        auto opened = Station::Open(std::move(o), error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (auto& d : controller->presentDevices()) names.push_back(d.name);
        return names;
    }

    TempDir tmp;
    ProgramFolders folders;
    std::shared_ptr<sim::SimBus> bus = std::make_shared<sim::SimBus>();
    std::shared_ptr<sim::SimBackend> backend = std::make_shared<sim::SimBackend>(bus);
    FakeTimers timers;
    std::ostringstream console;
    bool consoleAvailable = true;
    RecordingWindow* window = nullptr;
    std::unique_ptr<Station> station;
    std::unique_ptr<CAppController> controller;
};

TEST_F(ControllerTest, StartUpShowsMatchingDevicesInNameOrder) {
    AttachBeforeStart("sim1", Download());
    AttachBeforeStart("sim0", Download());
    AttachBeforeStart("sim2", Foreign());
    Start();

    EXPECT_THAT(window->calls(), ElementsAre("Create", "AddDeviceItem sim0", "Tips [sim0] 检测到设备已插入",
                                             "AddDeviceItem sim1", "Tips [sim1] 检测到设备已插入"));
    EXPECT_THAT(Names(), ElementsAre("sim0", "sim1"));
    EXPECT_EQ(controller->presentDevices()[0].devicePath, sim::SimBus::PathFor("sim0"));
    EXPECT_NE(controller->presentDevices()[0].productId.find("DEVICE"), std::string::npos);
    EXPECT_FALSE(controller->pcModeActive());
}

// The mode file decides whether a PC-mode device is served; without it such a device is
// neither listed at start nor taken on arrival.
TEST_F(ControllerTest, PcModeDeviceAtStartFollowsModeFile) {
    struct Case {
        std::optional<int> modeFile;
        bool served;
    };
    for (Case c : {Case{std::nullopt, false}, Case{0, false}, Case{1, true}}) {
        SCOPED_TRACE(c.modeFile ? std::to_string(*c.modeFile) : "no sys.inf");
        std::filesystem::remove(folders.modeFile);
        if (c.modeFile) WriteModeFile(*c.modeFile);
        bus = std::make_shared<sim::SimBus>();
        backend = std::make_shared<sim::SimBackend>(bus);
        AttachBeforeStart("sim0", PcMode());
        Start();

        EXPECT_EQ(controller->pcUpdateSupport(), c.served ? 1 : 0);
        if (c.served) {
            EXPECT_THAT(window->calls(),
                        ElementsAre("Create", "AddDeviceItem sim0", "Tips [sim0] 检测到设备已插入",
                                    "EnableOptionControls 0"));
            EXPECT_TRUE(controller->pcModeActive());
        } else {
            // Not even a later arrival matches it.
            bus->Detach("sim0");
            Attach("sim0", PcMode());
            controller->PumpDeviceEvents();
            EXPECT_THAT(window->calls(), ElementsAre("Create"));
            EXPECT_FALSE(controller->pcModeActive());
        }
        controller.reset();
    }
}

// A download-mode device whose product also names USB: listed without a lock at start
// when PC mode is off, but locks the options when it arrives later.
TEST_F(ControllerTest, MixedProductLocksOnlyOnArrival) {
    AttachBeforeStart("sim0", WithProduct("DEVICE USB      "));
    Start();
    EXPECT_THAT(Names(), ElementsAre("sim0"));
    EXPECT_FALSE(controller->pcModeActive());
    EXPECT_TRUE(window->calls("EnableOptionControls").empty());

    Attach("sim1", WithProduct("DEVICE USB      "));
    controller->settings().autoDownloadFlag = 1;
    controller->PumpDeviceEvents();
    EXPECT_TRUE(controller->pcModeActive());
    EXPECT_THAT(window->calls("EnableOptionControls"), ElementsAre("EnableOptionControls 0"));
    EXPECT_EQ(timers.pending(), 0u);  // no automatic download for a PC-mode device
}

TEST_F(ControllerTest, LogLinesNameTheFixtureSlotUntilTheDeviceIsGone) {
    std::ofstream(folders.settingsFile.parent_path() / "slots.ini") << "[slots]\r\n0-2=B\r\n";
    AttachBeforeStart("sim1", Download());  // simN sits at port 0-(N+1)
    Start();
    EXPECT_THAT(window->calls("Tips"), ElementsAre("Tips [sim1 B] 检测到设备已插入"));

    window->clear();
    bus->Detach("sim1");
    controller->PumpDeviceEvents();
    EXPECT_THAT(window->calls(), ElementsAre("Tips [sim1 B] 设备移除", "RemoveDeviceItem sim1"));

    // Gone: a later line under that name (another device may take it) claims no slot.
    window->clear();
    controller->notifier().AddTipsText("x", "sim1");
    EXPECT_THAT(window->calls("Tips"), ElementsAre("Tips [sim1] x"));
}

TEST_F(ControllerTest, ArrivalAndRemovalByWholeName) {
    Start();
    Attach("sim1", Download());
    Attach("sim10", Download());
    Attach("sim2", Foreign());
    controller->PumpDeviceEvents();
    EXPECT_THAT(window->calls(), ElementsAre("Create", "AddDeviceItem sim1", "Tips [sim1] 检查到设备接入",
                                             "AddDeviceItem sim10", "Tips [sim10] 检查到设备接入"));
    EXPECT_EQ(timers.pending(), 0u);  // automatic download is off

    window->clear();
    bus->Detach("sim1");
    bus->Detach("sim2");  // never listed: ignored
    controller->PumpDeviceEvents();
    controller->OnDeviceChanged({DeviceEvent::Kind::Removal, {"sim", "sim:sim"}});  // a prefix only
    // The row goes; the log line that names the device is what is left of it.
    EXPECT_THAT(window->calls(), ElementsAre("Tips [sim1] 设备移除", "RemoveDeviceItem sim1"));
    EXPECT_THAT(Names(), ElementsAre("sim10"));
}

// The row keeps the device's name; its tooltip says where the device sits, found at start or
// arriving later.
TEST_F(ControllerTest, RowTooltipNamesSlotPortAndSerial) {
    std::ofstream(folders.settingsFile.parent_path() / "slots.ini") << "[slots]\n0-1=A1\n";
    AttachBeforeStart("sim0", Download());
    Start();
    Attach("sim1", Download());
    controller->PumpDeviceEvents();
    EXPECT_THAT(window->calls("AddDeviceItem"), ElementsAre("AddDeviceItem sim0", "AddDeviceItem sim1"));
    EXPECT_EQ(window->tooltip("sim0"), "sim0 [A1]  0-1  BRVSIM0000");
    EXPECT_EQ(window->tooltip("sim1"), "sim1  0-2  BRVSIM0001");
    EXPECT_EQ(controller->presentDevices()[1].slot, "");
    EXPECT_EQ(controller->presentDevices()[0].slot, "A1");
}

TEST_F(ControllerTest, RepeatedArrivalKeepsOneEntryAndRow) {
    Start();
    Attach("sim0", Download());
    controller->PumpDeviceEvents();
    controller->OnDeviceChanged({DeviceEvent::Kind::Arrival, {"sim0", sim::SimBus::PathFor("sim0")}});

    EXPECT_THAT(Names(), ElementsAre("sim0"));
    EXPECT_EQ(window->calls("AddDeviceItem").size(), 1u);
    EXPECT_EQ(window->calls("Tips").size(), 1u);

    bus->Detach("sim0");
    controller->PumpDeviceEvents();
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(window->calls("RemoveDeviceItem").size(), 1u);
}

// The options stay locked while any PC-mode device is attached, whichever device leaves.
TEST_F(ControllerTest, PcModeLastsWhileAnyPcModeDeviceIsPresent) {
    WriteModeFile(1);
    Start();
    Attach("sim0", Download());
    Attach("sim1", PcMode());
    Attach("sim2", PcMode());
    controller->PumpDeviceEvents();
    EXPECT_TRUE(controller->pcModeActive());
    EXPECT_THAT(window->calls("EnableOptionControls"), ElementsAre("EnableOptionControls 0"));

    window->clear();
    bus->Detach("sim0");
    controller->PumpDeviceEvents();
    EXPECT_TRUE(controller->pcModeActive());
    bus->Detach("sim1");
    controller->PumpDeviceEvents();
    EXPECT_TRUE(controller->pcModeActive());
    EXPECT_TRUE(window->calls("EnableOptionControls").empty());

    bus->Detach("sim2");
    controller->PumpDeviceEvents();
    EXPECT_FALSE(controller->pcModeActive());
    EXPECT_THAT(window->calls("EnableOptionControls"), ElementsAre("EnableOptionControls 1"));
}

TEST_F(ControllerTest, PcModeAtStartEndsWhenItsDeviceLeaves) {
    WriteModeFile(1);
    AttachBeforeStart("sim0", Download());
    AttachBeforeStart("sim1", PcMode());
    Start();
    ASSERT_TRUE(controller->pcModeActive());

    bus->Detach("sim0");
    controller->PumpDeviceEvents();
    EXPECT_TRUE(controller->pcModeActive());
    bus->Detach("sim1");
    controller->PumpDeviceEvents();
    EXPECT_FALSE(controller->pcModeActive());
    EXPECT_THAT(window->calls("EnableOptionControls"),
                ElementsAre("EnableOptionControls 0", "EnableOptionControls 1"));
}

TEST_F(ControllerTest, AutomaticDownloadWaitsOnATimerThenDownloads) {
    auto data = Pattern(3 * 4096 + 100, 1);
    Start();
    controller->settings().autoDownloadFlag = 1;
    controller->settings().setDownloadFilePath(WriteImage("fw.up", data).string());
    auto device = Attach("sim0", Download());
    controller->PumpDeviceEvents();

    // The arrival returns at once; nothing is sent until the timer fires.
    ASSERT_EQ(timers.pending(), 1u);
    EXPECT_EQ(timers.delayOf(0), std::chrono::milliseconds(1000));
    EXPECT_EQ(device->commandCount(), 0);
    EXPECT_TRUE(window->calls("Progress").empty());

    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_EQ(device->ReadNor(0, static_cast<uint32_t>(data.size())), data);
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));
}

TEST_F(ControllerTest, AutomaticDownloadSkipsDevicesThatLeftOrCameBack) {
    Start();
    controller->settings().autoDownloadFlag = 1;
    controller->settings().setDownloadFilePath(WriteImage("fw.up", Pattern(4096, 2)).string());

    // Gone before the pause ends: no job.
    auto first = Attach("sim0", Download());
    controller->PumpDeviceEvents();
    bus->Detach("sim0");
    controller->PumpDeviceEvents();
    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_EQ(first->commandCount(), 0);
    EXPECT_TRUE(window->calls("Finished").empty());

    // Replugged during the pause: one download, for the latest arrival.
    Attach("sim0", Download());
    controller->PumpDeviceEvents();
    bus->Detach("sim0");
    controller->PumpDeviceEvents();
    auto again = Attach("sim0", Download());
    controller->PumpDeviceEvents();
    EXPECT_EQ(timers.pending(), 2u);
    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"))
        << ::testing::PrintToString(window->calls());
    EXPECT_EQ(again->ReadNor(0, 4096), Pattern(4096, 2));
}

// The reset program restarts the chip: it leaves the bus and arrives again, and the re-arrival
// is an arrival like any other, automatic download included.
TEST_F(ControllerTest, ADeviceResetAfterItsDownloadComesBackAsANewArrival) {
    Start();
    controller->settings().autoDownloadFlag = 1;
    controller->settings().resetAfterDownloadFlag = 1;
    const auto data = Pattern(4096 + 9, 31);
    controller->settings().setDownloadFilePath(WriteImage("fw.up", data).string());
    sim::SimDeviceConfig config = Download();
    config.timing.rebootUs = 30'000;
    auto device = Attach("sim0", config);
    controller->PumpDeviceEvents();
    const uint64_t firstAttachment = bus->Generation("sim0");
    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));
    EXPECT_EQ(device->resetCount(), 1);

    // Off the bus while it boots, then back under the same name.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (bus->Generation("sim0") == firstAttachment && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (bus->Generation("sim0") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_NE(bus->Generation("sim0"), 0u);
    ASSERT_NE(bus->Generation("sim0"), firstAttachment);

    window->clear();
    controller->PumpDeviceEvents();
    EXPECT_THAT(window->calls("RemoveDeviceItem"), ElementsAre("RemoveDeviceItem sim0"));
    EXPECT_THAT(window->calls("AddDeviceItem"), ElementsAre("AddDeviceItem sim0"));
    EXPECT_THAT(Names(), ElementsAre("sim0"));
    ASSERT_EQ(timers.pending(), 1u);  // a new automatic download waits on its timer

    device->WriteNorRaw(0, std::vector<uint8_t>(data.size(), 0));
    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));
    EXPECT_EQ(device->ReadNor(0, static_cast<uint32_t>(data.size())), data);
    EXPECT_EQ(device->resetCount(), 2);
}

TEST_F(ControllerTest, WindowEventsStartJobs) {
    auto data = Pattern(5000, 3);
    auto device = AttachBeforeStart("sim0", Download());
    Start();
    controller->settings().setDownloadFilePath(WriteImage("fw.up", data).string());

    window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
    controller->WaitForJobs();
    EXPECT_EQ(device->ReadNor(0, static_cast<uint32_t>(data.size())), data);
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));

    window->events().StartRead.Raise("sim0");
    controller->WaitForJobs();
    std::ifstream in(folders.programFolder / "read.bin", std::ios::binary);
    std::vector<uint8_t> head(data.size());
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, data);

    // An unknown name starts nothing.
    window->clear();
    window->events().StartDownload.Raise("sim9", 0, 0, 0, 0);
    controller->WaitForJobs();
    EXPECT_TRUE(window->calls("Finished").empty());
}

// The window's jobs land in the station's records beside its settings, failures with their reason.
TEST_F(ControllerTest, WindowJobsAreRecorded) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    auto data = Pattern(5000, 4);
    AttachBeforeStart("sim0", Download());
    sim::SimDeviceConfig failing = Download();
    failing.faults.crcByteSwap = true;
    AttachBeforeStart("sim1", failing);
    Start();
    controller->settings().setDownloadFilePath(WriteImage("fw.up", data).string());
    window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
    window->events().StartDownload.Raise("sim1", 0, 1, 0, 0);
    controller->WaitForJobs();

    ASSERT_TRUE(station->records());
    EXPECT_EQ(station->records()->file(), tmp.path() / "records.sqlite");
    std::string error;
    RecordFilter filter;
    filter.devices = {"sim0"};
    auto rows = station->records()->Query(filter, error);
    ASSERT_EQ(rows.size(), 1u) << error;
    EXPECT_EQ(rows[0].operation, "download");
    EXPECT_EQ(rows[0].result, "ok");
    EXPECT_EQ(rows[0].eraseUnit, "64K");
    EXPECT_EQ(rows[0].bytes, 5000);
    EXPECT_EQ(rows[0].portPath, "0-1");
    filter.devices = {"sim1"};
    rows = station->records()->Query(filter, error);
    ASSERT_EQ(rows.size(), 1u) << error;
    EXPECT_EQ(rows[0].result, "failed");
    EXPECT_EQ(rows[0].reason, "verify-mismatch");
    EXPECT_EQ(rows[0].eraseUnit, "4K");
}

// The window takes the tool's records options: another file, another station name, none at all,
// a central database.
TEST_F(ControllerTest, RecordsOptionsOfTheCommandLineReachTheStation) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    AttachBeforeStart("sim0", Download());
    const auto named = tmp.path() / "named.sqlite";
    Start({"brevload", "--records", named.string(), "--station", "line 3"});
    ASSERT_TRUE(station->records());
    EXPECT_EQ(station->records()->file(), named);
    EXPECT_EQ(station->pusher(), nullptr);
    const std::string image = WriteImage("fw.up", Pattern(3000, 1)).string();
    controller->settings().setDownloadFilePath(image);
    window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
    controller->WaitForJobs();
    std::string error;
    const auto rows = station->records()->Query({}, error);
    ASSERT_EQ(rows.size(), 1u) << error;
    EXPECT_EQ(rows[0].station, "line 3");
    EXPECT_EQ(rows[0].result, "ok");

    Start({"brevload", "--no-records", "--records", named.string()});
    EXPECT_FALSE(station->records());
    controller->settings().setDownloadFilePath(image);
    window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
    controller->WaitForJobs();
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "records.sqlite"));

    Start({"brevload", "--records-url=postgresql:///none?host=/nonexistent"});
    ASSERT_TRUE(station->records());
    EXPECT_EQ(station->records()->file(), tmp.path() / "records.sqlite");
    if (PushUnavailableReason().empty()) {
        EXPECT_NE(station->pusher(), nullptr);
    } else {
        // A build that cannot push keeps the records and says why in the window's log.
        EXPECT_EQ(station->pusher(), nullptr);
        EXPECT_THAT(window->calls("Tips"), Contains("Tips " + PushUnavailableReason()));
    }
}

#ifndef _WIN32
// A window killed in the middle of a download leaves the job's record started; the next start
// of the station records it as interrupted.
TEST_F(ControllerTest, AWindowKilledMidDownloadIsRecordedAsInterrupted) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    const auto image = WriteImage("fw.up", Pattern(300000, 5));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The window's process: a slow device, a download, word once its record is started.
        ::close(ready[0]);
        sim::SimDeviceConfig slow = Download();
        slow.timing = sim::TimingProfile::Realistic(50);
        AttachBeforeStart("sim0", slow);
        Start();
        controller->settings().setDownloadFilePath(image.string());
        window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
        for (int i = 0; i < 3000; ++i) {
            std::string error;
            const auto rows = station->records()->Query({}, error);
            if (rows.size() == 1 && rows[0].result == "started") {
                (void)!::write(ready[1], "s", 1);
                for (;;) ::pause();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char word = 0;
    const ssize_t got = ::read(ready[0], &word, 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(got, 1) << "the download's record was never started";

    Start();
    std::string error;
    const auto rows = station->records()->Query({}, error);
    ASSERT_EQ(rows.size(), 1u) << error;
    EXPECT_EQ(rows[0].device, "sim0");
    EXPECT_EQ(rows[0].operation, "download");
    EXPECT_EQ(rows[0].result, "interrupted");
    EXPECT_EQ(rows[0].reason, "interrupted");
    EXPECT_EQ(rows[0].imagePath, std::filesystem::canonical(image).string());
}
#endif

// The test area's events reach one diagnostic connection, opened on the first listed device.
TEST_F(ControllerTest, DiagnosticEventsUseOneConnection) {
    Start();
    CWindowEvents& ev = window->events();
    ev.TestReadFlashId.Raise();
    ev.TestInit.Raise();
    EXPECT_THAT(window->calls("Box"), ElementsAre("Box |没有初始化", "Box |没有设备，无法打开"));

    auto device = Attach("sim0", Download());
    controller->PumpDeviceEvents();
    window->clear();
    ev.TestInit.Raise();
    const int before = device->commandCount();
    ev.TestReadFlashId.Raise();
    EXPECT_GT(device->commandCount(), before);
    ev.TestCloseDevice.Raise();
    ev.TestGetCrc16.Raise();
    EXPECT_THAT(window->calls("Box"), ElementsAre("Box |没有初始化"));
}

TEST_F(ControllerTest, ConsoleModeDownloadsItsFileToEveryDownloadModeDevice) {
    WriteModeFile(1);
    auto consoleData = Pattern(2 * 4096 + 17, 4);
    auto savedData = Pattern(4096, 9);
    auto consoleFile = WriteImage("console.up", consoleData);
    auto savedFile = WriteImage("saved.up", savedData).string();
    auto atStart = AttachBeforeStart("sim0", Download());
    auto pc = AttachBeforeStart("sim1", PcMode());
    // The window loads the saved file while it is being created; set it before start-up here.
    Start({"brevload", "-a", "-f" + consoleFile.string()});
    controller->settings().setDownloadFilePath(savedFile);
    EXPECT_TRUE(controller->consoleMode());
    EXPECT_EQ(controller->consoleFilePath(), consoleFile.string());

    auto arriving = Attach("sim2", Download());
    controller->PumpDeviceEvents();
    ASSERT_EQ(timers.pending(), 1u);
    timers.FireAll();
    controller->WaitForJobs();

    EXPECT_EQ(atStart->ReadNor(0, static_cast<uint32_t>(consoleData.size())), consoleData);
    EXPECT_EQ(arriving->ReadNor(0, static_cast<uint32_t>(consoleData.size())), consoleData);
    EXPECT_EQ(pc->commandCount(), 0);  // PC-mode devices are left alone
    EXPECT_EQ(controller->settings().downloadFilePath(), savedFile);

    const std::string out = console.str();
    EXPECT_TRUE(out.starts_with(kConsoleBanner));
    for (const std::string name : {"sim0", "sim2"}) {
        SCOPED_TRACE(name);
        // One console line per progress step, and the outcome.
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("[" + name + "] ") && line.ends_with("%")) lines.push_back(line);
        std::vector<std::string> expected;
        for (auto& call : window->calls("Progress " + name + " "))
            expected.push_back("[" + name + "] " + call.substr(call.rfind(' ') + 1) + "%");
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(lines, expected);
        EXPECT_NE(out.find("[" + name + "] succeeded\n"), std::string::npos);
    }
    // The console mirrors the operation log too; the PC-mode device only has its start-up line.
    EXPECT_NE(out.find("[sim0] 检测到设备已插入\n"), std::string::npos);
    EXPECT_NE(out.find("[sim2] 检查到设备接入\n"), std::string::npos);
    EXPECT_NE(out.find("[sim1] 检测到设备已插入\n"), std::string::npos);
    EXPECT_EQ(out.find("[sim1] 5%"), std::string::npos);
    EXPECT_EQ(out.find("[sim1] succeeded"), std::string::npos);
}

TEST_F(ControllerTest, ConsoleModeRowClicksWriteTheConsoleFile) {
    auto consoleData = Pattern(4096 + 5, 21);
    auto consoleFile = WriteImage("console.up", consoleData);
    auto savedFile = WriteImage("saved.up", Pattern(4096, 22)).string();
    Start({"brevload", "-a", "-f" + consoleFile.string()});
    controller->settings().setDownloadFilePath(savedFile);
    auto device = Attach("sim0", Download());
    controller->PumpDeviceEvents();
    ASSERT_EQ(timers.pending(), 1u);  // the console's own download waits; the operator clicks first

    window->events().StartDownload.Raise("sim0", 0, 0, 0, 0);
    controller->WaitForJobs();
    // The file the window shows, not the saved one; the saved choice is left as it was.
    EXPECT_EQ(device->ReadNor(0, static_cast<uint32_t>(consoleData.size())), consoleData);
    EXPECT_EQ(controller->settings().downloadFilePath(), savedFile);
}

TEST_F(ControllerTest, ArrivalRepeatedDuringThePauseStillGetsOneDownload) {
    Start();
    controller->settings().autoDownloadFlag = 1;
    const auto data = Pattern(4096, 23);
    controller->settings().setDownloadFilePath(WriteImage("fw.up", data).string());
    auto device = Attach("sim0", Download());
    controller->PumpDeviceEvents();
    // The system reports the same arrival twice, without a removal in between.
    controller->OnDeviceChanged({DeviceEvent::Kind::Arrival, {"sim0", sim::SimBus::PathFor("sim0")}});
    timers.FireAll();
    controller->WaitForJobs();
    EXPECT_THAT(window->calls("Finished"), ElementsAre("Finished sim0 1"));
    EXPECT_EQ(device->ReadNor(0, 4096), data);
}

TEST_F(ControllerTest, ConsoleModeWithoutFileOrConsole) {
    // No file: the banner only; arrivals are handled as usual.
    auto device = AttachBeforeStart("sim0", Download());
    Start({"brevload", "-a"});
    EXPECT_EQ(console.str(), std::string(kConsoleBanner) + "[sim0] 检测到设备已插入\n");
    Attach("sim1", Download());
    controller->PumpDeviceEvents();
    EXPECT_EQ(timers.pending(), 0u);
    EXPECT_EQ(device->commandCount(), 0);

    // A file named later serves the listed devices at once; the console is attached only once.
    auto later = Pattern(4096, 6);
    controller->ConsoleDownload(WriteImage("later.up", later).string());
    controller->WaitForJobs();
    EXPECT_EQ(device->ReadNor(0, 4096), later);
    EXPECT_EQ(bus->Find("sim1")->ReadNor(0, 4096), later);
    EXPECT_EQ(console.str().find(kConsoleBanner, 1), std::string::npos);
    controller.reset();

    // No console to attach to: no banner, but the file is still downloaded.
    auto data = Pattern(4096, 5);
    consoleAvailable = false;
    console.str("");
    bus = std::make_shared<sim::SimBus>();
    backend = std::make_shared<sim::SimBackend>(bus);
    device = AttachBeforeStart("sim0", Download());
    Start({"brevload", "-a", "-f" + WriteImage("c.up", data).string()});
    controller->WaitForJobs();
    EXPECT_EQ(console.str(), "");
    EXPECT_EQ(device->ReadNor(0, 4096), data);
}

TEST_F(ControllerTest, ConsoleDownloadOfABadFileFailsVisibly) {
    std::ofstream(tmp.path() / "bad.up") << "not an image";
    auto device = AttachBeforeStart("sim0", Download());
    Start({"brevload", "-a", "-f" + (tmp.path() / "bad.up").string()});
    controller->WaitForJobs();
    EXPECT_EQ(device->ReadNor(0, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_NE(console.str().find("[sim0] download not started"), std::string::npos);
    EXPECT_TRUE(window->calls("Finished sim0 1").empty());
}

TEST_F(ControllerTest, RunFailsWhenTheWindowCannotBeCreated) {
    station = OpenStation();
    AppServices s;
    s.station = station.get();
    s.installCrashHandler = false;
    s.createWindow = [](CAppController&) { return std::unique_ptr<IMainWindow>(); };
    CAppController c(std::move(s));
    EXPECT_FALSE(c.Run());
    EXPECT_EQ(c.window(), nullptr);
}

}  // namespace
}  // namespace brev::test
