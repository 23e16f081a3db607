// How the tool behaves as a process: pipes, signals, plain output, its log file, its help.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<uint8_t> WriteImage(const CliFolder& dir, size_t size) {
    auto data = SomeData(size, 5);
    WriteBytes(dir / "fw.up", MakeUpdateImage(data));
    return data;
}

bool HoldsImage(const CliFolder& dir, const std::string& name, const std::vector<uint8_t>& data) {
    const auto flash = ReadBytes(dir / "flash" / (name + ".flash"));
    return flash.size() >= data.size() && std::equal(data.begin(), data.end(), flash.begin());
}

bool TemporaryFolderEmpty(const CliFolder& dir) { return std::filesystem::is_empty(dir / "tmp"); }

// Waits until the tool's standard error holds `needle`.
bool ErrorSays(const CliFolder& dir, const std::string& needle) {
    for (int i = 0; i < 600; ++i) {
        if (test::ReadText(dir / ".stderr").find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The reader goes away after one line while four devices are still being written: the jobs do
// not notice, and every device ends up holding the image.
TEST(CliProcess, AReaderThatLeavesEarlyDoesNotStopTheJobs) {
    CliFolder dir;
    const auto data = WriteImage(dir, 300000);
    const RunResult r = dir.RunShell(
        R"("$BREVLOAD_CLI" download fw.up --simulate 4 --sim-profile realistic --sim-dir flash | head -1;)"
        R"( exit "${PIPESTATUS[0]}")");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
    for (const char* name : {"sim0", "sim1", "sim2", "sim3"})
        EXPECT_TRUE(HoldsImage(dir, name, data)) << name;
    EXPECT_TRUE(TemporaryFolderEmpty(dir));
}

// SIGTERM and SIGHUP act like Ctrl-C: the running jobs finish, the summary follows, status 130.
TEST(CliProcess, ATerminationSignalLetsRunningJobsFinish) {
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        CliFolder dir;
        const auto data = WriteImage(dir, 300000);
        int fd = -1;
        const pid_t pid = dir.Spawn(
            {"download", "fw.up", "--simulate", "2", "--sim-profile", "realistic", "--sim-dir", "flash"},
            &fd);
        ASSERT_GT(pid, 0);
        std::string out;
        const bool running = ReadUntil(fd, "sim0: 10%", out, std::chrono::seconds(30));
        ::kill(pid, sig);
        EXPECT_EQ(Finish(pid, fd, out), 130) << out;
        ASSERT_TRUE(running) << out;
        EXPECT_THAT(out, HasSubstr("2 succeeded, 0 failed"));
        EXPECT_TRUE(HoldsImage(dir, "sim0", data));
        EXPECT_TRUE(TemporaryFolderEmpty(dir));
        EXPECT_THAT(test::ReadText(dir / ".stderr"), HasSubstr("interrupted: no new jobs"));
    }
}

// A second interrupt does not wait: it names the devices left half-written, marks them
// interrupted in the summary and still removes the temporary folder.
TEST(CliProcess, ASecondInterruptNamesTheDevicesLeftHalfWritten) {
    CliFolder dir;
    WriteImage(dir, 300000);
    int fd = -1;
    const pid_t pid = dir.Spawn({"download", "fw.up", "--simulate", "2", "--sim-profile", "realistic",
                                 "--sim-time-scale", "50", "--device", "sim1"},
                                &fd);
    ASSERT_GT(pid, 0);
    std::string out;
    const bool running = ReadUntil(fd, "sim1: 10%", out, std::chrono::seconds(30));
    ::kill(pid, SIGINT);
    const bool noted = ErrorSays(dir, "interrupted: no new jobs");
    ::kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid, fd, out), 130) << out;
    ASSERT_TRUE(running && noted) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nsim1 +INTERRUPTED +interrupted ")));
    EXPECT_THAT(out, HasSubstr("0 succeeded, 1 failed"));
    EXPECT_THAT(test::ReadText(dir / ".stderr"), HasSubstr("left half-written: sim1"));
    EXPECT_TRUE(TemporaryFolderEmpty(dir));
}

// Plain output is a log: every line but the summary table is time-stamped, and progress comes
// at most once per tenth per device. --log-file gets the same lines.
TEST(CliOutput, PlainLinesAreTimeStampedAndProgressIsThinned) {
    CliFolder dir;
    WriteImage(dir, 300000);
    // 4 KiB blocks: progress in steps of about one percent.
    const RunResult r =
        dir.Run({"download", "fw.up", "--simulate", "2", "--erase-4k", "--log-file", "run.log"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::regex stamped(R"(^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z (.*)$)");
    const std::regex progress(R"(^(sim[01]): ([0-9]+)%$)");
    std::map<std::string, int> lastTenth;
    bool inTable = false;
    for (const std::string& line : Lines(r.out)) {
        if (line.empty()) {
            inTable = true;  // the summary table follows its blank line
            continue;
        }
        if (inTable) continue;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, stamped)) << line;
        const std::string text = m[1];
        if (std::regex_match(text, m, progress)) {
            const int tenth = std::stoi(m[2]) / 10;
            EXPECT_TRUE(!lastTenth.contains(m[1]) || tenth > lastTenth[m[1]]) << line;
            lastTenth[m[1]] = tenth;
        }
    }
    EXPECT_EQ(lastTenth.size(), 2u) << r.out;
    ASSERT_TRUE(inTable) << r.out;

    const std::string log = test::ReadText(dir / "run.log");
    EXPECT_THAT(log, HasSubstr("sim0: OK ("));
    EXPECT_THAT(log, HasSubstr("2 succeeded, 0 failed"));
    EXPECT_THAT(log, Not(HasSubstr("\x1b")));
    for (const std::string& line : Lines(log)) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
}

// The JSON start event names the image, its size and its header's CRC; -v adds one event per
// device command, with the sense data of a failed one.
TEST(CliOutput, JsonStartNamesTheImageAndVerboseShowsEachCommand) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(70000, 5)));
    const auto header = ReadBytes(dir / "fw.up");
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X",
                  header[kImageDataCrcOffset] | (header[kImageDataCrcOffset + 1] << 8));
    const RunResult r =
        dir.Run({"download", "fw.up", "--simulate", "2", "--sim-fault", "sim1:fail:0x81:1", "--json", "-v"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(R"("event":"start","device":"sim0","image":"fw.up","size":)" +
                                 std::to_string(header.size()) + R"(,"crc":")" + crc + "\""));
    EXPECT_THAT(r.out, HasSubstr(R"("event":"command","device":"sim0","ok":true,"text":"Init: ok")"));
    EXPECT_THAT(r.out,
                HasSubstr(R"("event":"command","device":"sim1","ok":false,"text":"Init: check condition, )"
                          R"x(hardware error: internal target failure (04/44/00)","senseKey":4,"asc":68,)x"
                          R"("ascq":0)"));
}

// The options a download works with are printed first, with where each came from: the settings
// file the window saves is still read (one station, one set of defaults for both faces), but
// never silently.
TEST(CliOutput, TheOptionsInEffectComeFirstWithTheirSource) {
    CliFolder dir;
    WriteImage(dir, 1000);
    std::ofstream(dir / "confile.inf") << "[setting]\r\nexFlash=1\r\nskipUnchanged=1\r\n";
    const RunResult r = dir.Run({"download", "fw.up", "--simulate", "1", "--no-skip-unchanged"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_THAT(lines.front(), HasSubstr("options: settings " + (dir / "confile.inf").string()));
    EXPECT_THAT(lines.front(), HasSubstr("ex-flash on (settings)"));
    EXPECT_THAT(lines.front(), HasSubstr("skip-unchanged off (option)"));
}

// Runs the tool with a terminal as its standard output; returns what the terminal received.
std::string RunOnTerminal(const CliFolder& dir, const std::vector<std::string>& args, bool noColor) {
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
        ::setenv("BREVLOAD_HOME", dir.path().c_str(), 1);
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        ::setenv("TERM", "xterm", 1);
        ::setenv("LANG", "C.UTF-8", 1);
        if (noColor) {
            ::setenv("NO_COLOR", "1", 1);
        } else {
            ::unsetenv("NO_COLOR");
        }
        std::vector<std::string> all{BREVLOAD_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string out;
    if (pid < 0) return out;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(master, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));  // EIO at the end
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST(CliOutput, NoColorKeepsTheTerminalOutputUncoloured) {
    CliFolder dir;
    std::filesystem::create_directory(dir / "tmp");
    WriteImage(dir, 1000);
    const std::vector<std::string> args{"download", "fw.up", "--simulate", "1"};
    const std::string coloured = RunOnTerminal(dir, args, false);
    const std::string plain = RunOnTerminal(dir, args, true);
    EXPECT_THAT(coloured, HasSubstr("\x1b[32msim0: OK"));
    EXPECT_THAT(plain, HasSubstr("sim0: OK"));
    EXPECT_THAT(plain, Not(HasSubstr("\x1b[32m")));
    EXPECT_THAT(plain, Not(HasSubstr("\x1b[31m")));
}

TEST(CliUsage, UnknownSubcommandsAndEachSubcommandsHelp) {
    CliFolder dir;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"dowload", "fw.up"}, {"--simulate", "2", "flash", "fw.up"}}) {
        const RunResult r = dir.Run(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_THAT(r.err, HasSubstr("unknown subcommand '" + args[args.size() - 2] + "'"));
        EXPECT_THAT(r.err,
                    HasSubstr("list, check, download, erase, random-test, read, verify, watch, make-image"));
    }
    // Shared flags before the subcommand take no value: the subcommand is still found.
    for (const auto& args : std::vector<std::vector<std::string>>{{"-v", "check", "none.up"},
                                                                  {"--json", "-q", "check", "none.up"}}) {
        const RunResult r = dir.Run(args);
        EXPECT_THAT(r.err + r.out, HasSubstr("the file cannot be opened"));
        EXPECT_THAT(r.err, Not(HasSubstr("unknown subcommand")));
    }
    const RunResult help = dir.Run({"watch", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option :
         {"--count", "--device", "--ex-flash", "--simulate", "--json", "--log-file", "--lang"})
        EXPECT_THAT(help.out, HasSubstr(option)) << option;
}

}  // namespace
}  // namespace brev::clitest
