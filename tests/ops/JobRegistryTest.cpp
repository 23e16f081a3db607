// Job threads: one operation per device, waiting for running jobs, settings shared with jobs.
#include <atomic>
#include <chrono>
#include <thread>

#include "ops/JobRegistry.h"
#include "ops/Texts.h"
#include "tests/ops/OpsRig.h"

namespace brev::testing {
namespace {

using ::testing::ElementsAre;

TEST(JobRegistryTest, OneJobPerDeviceAndWaitAllWaits) {
    CJobRegistry registry;
    Gate gate;
    std::atomic<bool> done{false};
    ASSERT_TRUE(registry.TryStart("a", [&] {
        gate.Reach();
        done = true;
    }));
    gate.WaitReached();
    EXPECT_TRUE(registry.IsBusy("a"));
    EXPECT_FALSE(registry.IsBusy("b"));
    EXPECT_FALSE(registry.TryStart("a", [] {}));
    ASSERT_TRUE(registry.TryStart("b", [] {}));
    EXPECT_THAT(registry.BusyDevices(), ::testing::Contains("a"));

    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.Open();
    });
    registry.WaitAll();
    EXPECT_TRUE(done);
    EXPECT_TRUE(registry.BusyDevices().empty());
    opener.join();
    EXPECT_TRUE(registry.TryStart("a", [] {}));  // free again
}

TEST(JobRegistryTest, DestructorWaitsForRunningJobs) {
    std::atomic<bool> done{false};
    {
        CJobRegistry registry;
        ASSERT_TRUE(registry.TryStart("a", [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            done = true;
        }));
    }
    EXPECT_TRUE(done);
}

// Whoever is told that a job ended can start the next one on that device at once.
TEST(JobRegistryTest, AfterReleaseSeesTheDeviceFree) {
    CJobRegistry registry;
    std::atomic<bool> wasBusy{true}, restarted{false}, secondRan{false};
    ASSERT_TRUE(registry.TryStart(
        "a", [] {},
        [&] {
            wasBusy = registry.IsBusy("a");
            restarted = registry.TryStart("a", [&] { secondRan = true; });
        }));
    // The second job may start only after the first has ended: wait until both did.
    for (int i = 0; i < 1000 && !secondRan; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    registry.WaitAll();
    EXPECT_FALSE(wasBusy);
    EXPECT_TRUE(restarted);
    EXPECT_TRUE(secondRan);
}

TEST(JobRegistryTest, FilesAreClaimedOnce) {
    CJobRegistry registry;
    EXPECT_TRUE(registry.TryClaimFile("/x/read.bin"));
    EXPECT_FALSE(registry.TryClaimFile("/x/read.bin"));
    EXPECT_TRUE(registry.TryClaimFile("/y/read.bin"));
    registry.ReleaseFile("/x/read.bin");
    EXPECT_TRUE(registry.TryClaimFile("/x/read.bin"));
}

// Every kind of operation on a busy device is refused with a line naming it; other devices go on.
TEST_F(OpsRig, OperationsOnABusyDeviceAreRefused) {
    auto dev0 = Attach("sim0");
    auto dev1 = Attach("sim1");
    const auto data = Pattern(70000);
    WriteImage(data);
    Gate gate;
    notifier_.hook = [&](const Note& n) {
        if (n.kind == "pos" && n.name == "sim0" && n.value == 5) gate.Reach();
    };
    StartRequest download;
    download.deviceName = "sim0";
    ASSERT_TRUE(StartDownloadJob(env_, present_, download));
    gate.WaitReached();
    EXPECT_THAT(registry_->BusyDevices(), ElementsAre("sim0"));

    StartRequest erase = download, random = download;
    erase.eraseOnly = 1;
    random.writeRandom = 1;
    const auto before = sink_->Lines().size();
    EXPECT_FALSE(StartDownloadJob(env_, present_, download));
    EXPECT_FALSE(StartDownloadJob(env_, present_, erase));
    EXPECT_FALSE(StartDownloadJob(env_, present_, random));
    EXPECT_FALSE(StartReadBack(env_, present_, "sim0"));
    EXPECT_EQ(sink_->Lines().size(), before);  // nothing reached the device
    const Note busy{"log", "sim0", text::FillText(text::kDeviceBusy, "sim0"), 0};
    const auto notes = notifier_.notesFor("sim0");
    EXPECT_EQ(std::count(notes.begin(), notes.end(), busy), 4);
    EXPECT_EQ(busy.text, "设备sim0正在操作中，请等待完成");

    // Another device is not held up by the first.
    StartRequest other = download;
    other.deviceName = "sim1";
    ASSERT_TRUE(StartDownloadJob(env_, present_, other));
    while (notifier_.outcomes("sim1").empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    gate.Open();
    registry_->WaitAll();
    notifier_.hook = nullptr;
    EXPECT_EQ(dev0->ReadNor(0, 70000), data);
    EXPECT_EQ(dev1->ReadNor(0, 70000), data);
    EXPECT_TRUE(registry_->BusyDevices().empty());
}

// Settings change on the UI thread while jobs read them; with atomics every job sees a whole value.
TEST_F(OpsRig, SettingsChangeWhileJobsRun) {
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 0; i < 4; ++i) devices.push_back(Attach("sim" + std::to_string(i)));
    const auto data = Pattern(300000);
    WriteImage(data);
    for (int i = 0; i < 4; ++i) {
        StartRequest r;
        r.deviceName = "sim" + std::to_string(i);
        ASSERT_TRUE(StartDownloadJob(env_, present_, r));
    }
    for (int i = 0; i < 2000 && !registry_->BusyDevices().empty(); ++i) {
        settings_.busClkDiv = i % 2 == 0 ? 9 : 0;
        settings_.resetAfterDownloadFlag = i % 2;
        settings_.setDownloadFilePath(i % 2 == 0 ? "a" : "b");
        std::this_thread::yield();
    }
    registry_->WaitAll();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(devices[i]->ReadNor(0, 300000), data) << i;
        EXPECT_EQ(devices[i]->initBytes()[0], 9) << i;
    }
    for (const auto& e : Trace()) {
        if (e.sub() == cmd::Init) {
            EXPECT_EQ(e.cdb[2], 9);
        }
    }
}

}  // namespace
}  // namespace brev::testing
