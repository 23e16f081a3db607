// One operator per device across processes: a second brevload-cli on the same simulated devices
// finds the device held and fails at once as busy, naming the holder; the first is not disturbed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;

// True once a lock file in `folder` holds `pid` (the holder writes it after taking the lock).
bool WaitForHolder(const std::filesystem::path& folder, pid_t pid, std::chrono::seconds timeout) {
    const std::string expected = std::to_string(pid) + "\n";
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            const auto bytes = ReadBytes(entry.path());
            if (std::string(bytes.begin(), bytes.end()) == expected) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(CliDeviceLock, ASecondProcessOnAHeldDeviceFailsAsBusy) {
    CliFolder dir;
    const auto data = SomeData(200000, 3);
    WriteBytes(dir / "fw.up", MakeUpdateImage(data));
    const std::vector<std::string> common = {"download",  "fw.up", "--simulate",    "1",
                                             "--sim-dir", "flash", "--sim-profile", "realistic"};

    int fd = -1;
    std::vector<std::string> first = common;
    first.insert(first.end(), {"--sim-time-scale", "4", "-q"});
    const pid_t pid = dir.Spawn(first, &fd);
    ASSERT_GT(pid, 0);
    const bool held = WaitForHolder(dir / "flash" / "locks", pid, std::chrono::seconds(60));

    std::vector<std::string> second = common;
    second.push_back("--json");
    const RunResult busy = held ? dir.Run(second) : RunResult{};
    std::string out;
    const int code = Finish(pid, fd, out);
    ASSERT_TRUE(held);

    EXPECT_EQ(busy.exitCode, 1) << busy.out << busy.err;
    const auto lines = Lines(busy.out);
    const auto result = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find(R"("event":"result")") != std::string::npos;
    });
    ASSERT_NE(result, lines.end()) << busy.out;
    EXPECT_THAT(*result, HasSubstr(R"("reason":"busy")"));
    EXPECT_THAT(*result, HasSubstr("held by process " + std::to_string(pid) + "\""));
    EXPECT_THAT(busy.out, HasSubstr(R"("text":"设备sim0正在操作中，请等待完成")"));

    EXPECT_EQ(code, 0) << out;
    const auto flash = ReadBytes(dir / "flash" / "sim0.flash");
    ASSERT_GE(flash.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
}

}  // namespace
}  // namespace brev::clitest
