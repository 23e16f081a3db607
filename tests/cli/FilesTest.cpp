// Files named on the command line: checked before any device is touched, and outputs written
// whole or not at all.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "CliRun.h"
#include "image/ImageChecker.h"
#include "tests/support/SmallDisk.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

struct BadFileCase {
    std::vector<std::string> args;
    const char* reason;
    std::function<void(const CliFolder&)> make;
};

// Each run stops with exit 2 and the reason before a device gets a command: the trace is not
// even created, and an input named as an output keeps its bytes.
TEST(CliFiles, BadFilesStopTheRunBeforeAnyCommand) {
    const std::vector<BadFileCase> cases = {
        {{"download", "fifo", "--ex-flash"},
         "fifo: not a regular file",
         [](const CliFolder& d) { ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0); }},
        {{"download", "folder", "--ex-flash"},
         "folder: a folder, not a file",
         [](const CliFolder& d) { fs::create_directory(d / "folder"); }},
        {{"download", "empty.bin", "--ex-flash"},
         "empty.bin: the file is empty",
         [](const CliFolder& d) { WriteBytes(d / "empty.bin", {}); }},
        {{"watch", "missing.up"}, "missing.up: no such file", {}},
        {{"download", "fw.up", "--config", "fifo"},
         "--config fifo: not a regular file",
         [](const CliFolder& d) { ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0); }},
        {{"download", "fw.up", "--config", "/proc/self/status"}, "no [section] in it", {}},
        {{"download", "fw.up", "--config", "junk.inf"},
         "--config junk.inf: binary data",
         [](const CliFolder& d) {
             WriteBytes(d / "junk.inf", {'[', 's', ']', '\n', 0, 1, 2});
         }},
        {{"download", "fw.up", "--trace", "./fw.up"}, "./fw.up: is also an input file", {}},
        {{"download", "fw.up", "--config", "c.inf", "--trace", "c.inf"},
         "c.inf: is also an input file",
         [](const CliFolder& d) {
             WriteBytes(d / "c.inf", {'[', 's', ']', '\n'});
         }},
        {{"download", "fw.up", "--slots", "fifo"},
         "fifo: not a regular file",
         [](const CliFolder& d) { ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0); }},
        {{"read", "-o", "folder"},
         "folder: a folder, not a file",
         [](const CliFolder& d) { fs::create_directory(d / "folder"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        CliFolder dir;
        WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(5000, 3)));
        const auto image = ReadBytes(dir / "fw.up");
        if (c.make) c.make(dir);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--simulate", "1"});
        if (std::find(args.begin(), args.end(), "--trace") == args.end())
            args.insert(args.end(), {"--trace", "t.txt"});
        const RunResult r = dir.Run(args);
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_THAT(r.err, HasSubstr(c.reason));
        EXPECT_FALSE(fs::exists(dir / "t.txt"));
        EXPECT_EQ(ReadBytes(dir / "fw.up"), image);
    }

    CliFolder dir;
    WriteBytes(dir / "raw.bin", SomeData(100, 1));
    const RunResult same = dir.Run({"make-image", "raw.bin", "raw.bin"});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_THAT(same.err, HasSubstr("raw.bin: is also an input file"));
    EXPECT_EQ(ReadBytes(dir / "raw.bin"), SomeData(100, 1));
}

// On a full disk every output fails with exit 2 and the system's reason; the old file stays
// and no temporary file is left.
TEST(CliFiles, AFullDiskLeavesTheOldOutputAndNoTemporaryFile) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string noSpace = std::make_error_code(std::errc::no_space_on_device).message();
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(5000, 3)));
    WriteBytes(dir / "raw.bin", SomeData(100000, 4));
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const char* name : {"r.bin", "m.up", "t.txt"}) WriteBytes(disk / name, old);

    const std::string out = (disk / "r.bin").string();
    const RunResult read = dir.Run({"read", "--simulate", "1", "-o", out}, "C.UTF-8");
    EXPECT_EQ(read.exitCode, 2) << read.out;
    EXPECT_THAT(read.err, HasSubstr(noSpace));

    const RunResult made = dir.Run({"make-image", "raw.bin", (disk / "m.up").string()}, "C.UTF-8");
    EXPECT_EQ(made.exitCode, 2) << made.out;
    EXPECT_THAT(made.err, HasSubstr(noSpace));

    // The trace's lines are few: the rest of the disk is taken first.
    { std::ofstream(disk / "filler", std::ios::binary) << std::string(128 * 1024, 'x'); }
    const RunResult traced =
        dir.Run({"download", "fw.up", "--simulate", "2", "--trace", (disk / "t.txt").string()}, "C.UTF-8");
    EXPECT_EQ(traced.exitCode, 2) << traced.out;
    EXPECT_THAT(traced.err, HasSubstr("--trace"));
    EXPECT_THAT(traced.err, HasSubstr(noSpace));

    for (const char* name : {"r.bin", "m.up", "t.txt"}) EXPECT_EQ(ReadBytes(disk / name), old) << name;
    EXPECT_EQ(disk.FileCount(), 4u);
}

}  // namespace
}  // namespace brev::clitest
