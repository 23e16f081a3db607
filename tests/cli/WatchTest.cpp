#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <regex>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(CliWatch, DownloadsToDevicesAsTheyArriveUntilTheCountIsDone) {
    CliFolder dir;
    const auto data = SomeData(70000, 9);
    WriteBytes(dir / "fw.up", MakeUpdateImage(data));
    const RunResult r = dir.Run({"watch", "fw.up", "--simulate", "3", "--sim-attach-after", "50", "--count",
                                 "2", "--sim-dir", "flash"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("sim0: device arrived"));
    EXPECT_THAT(r.out, HasSubstr("sim1: device arrived"));
    EXPECT_THAT(r.out, Not(HasSubstr("sim2: OK")));
    EXPECT_THAT(r.out, HasSubstr("2 succeeded, 0 failed"));
    for (const char* name : {"sim0", "sim1"}) {
        const auto flash = ReadBytes(dir / "flash" / (std::string(name) + ".flash"));
        ASSERT_GE(flash.size(), data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin())) << name;
    }
}

TEST(CliWatch, JsonNamesEachArrival) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(1000, 9)));
    const RunResult r =
        dir.Run({"watch", "fw.up", "--simulate", "2", "--sim-attach-after", "50", "--count", "2", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* name : {"sim0", "sim1"}) {
        EXPECT_TRUE(
            std::regex_search(r.out, std::regex(std::string(R"("event":"arrived","device":")") + name +
                                                R"("[\s\S]*"event":"start","device":")" + name)))
            << name;
    }
}

// An arriving device is chosen by where it sits, known once it is probed.
TEST(CliWatch, ArrivalsAreChosenByTheirSlot) {
    CliFolder dir;
    std::ofstream(dir / "slots.ini") << "[slots]\n0-2=B\n";
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(70000, 9)));
    const RunResult r = dir.Run({"watch", "fw.up", "--simulate", "3", "--sim-attach-after", "50", "--count",
                                 "1", "--device", "slot:B"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("sim1 [B]: device arrived"));
    EXPECT_THAT(r.out, HasSubstr("sim1 [B]: OK"));
    EXPECT_THAT(r.out, Not(HasSubstr("sim0")));
    EXPECT_THAT(r.out, HasSubstr("1 succeeded, 0 failed"));
}

#ifndef _WIN32  // POSIX signals to a child process
TEST(CliWatch, AnInterruptLetsRunningJobsFinishAndPrintsTheSummary) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(70000, 9)));
    int fd = -1;
    const pid_t pid = dir.Spawn({"watch", "fw.up", "--simulate", "2", "--sim-attach-after", "100"}, &fd);
    ASSERT_GT(pid, 0);
    std::string out;
    const bool firstDone = ReadUntil(fd, "sim0: OK", out, std::chrono::seconds(20));
    ::kill(pid, SIGINT);
    const int code = Finish(pid, fd, out);
    ASSERT_TRUE(firstDone) << out;
    EXPECT_EQ(code, 130) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nsim0 +OK ")));
    EXPECT_THAT(out, HasSubstr("0 failed"));
}

TEST(CliWatch, AnInterruptBeforeAnyDeviceArrivedIsStillAnInterrupt) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(100, 9)));
    int fd = -1;
    const pid_t pid = dir.Spawn({"watch", "fw.up", "--simulate", "1", "--sim-attach-after", "60000"}, &fd);
    ASSERT_GT(pid, 0);
    std::string out;
    const bool waiting = ReadUntil(fd, "waiting for devices", out, std::chrono::seconds(20));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(Finish(pid, fd, out), 130) << out;
    EXPECT_TRUE(waiting) << out;
}
#endif

}  // namespace
}  // namespace brev::clitest
