// The window program as a process: options that print and exit, where its records go, and
// console mode whose console goes away while devices are being written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/Records.h"
#include "image/ImageChecker.h"
#include "tests/support/Pattern.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

struct Exit {
    bool exited = false;  // ended by exit(), not by a signal
    int code = -1;
    int signal = 0;
};

// Starts the program in `dir` with `stdoutFd` as its standard output (closed in the child
// when -1) and the given extra environment.
pid_t Start(const std::filesystem::path& dir, const std::vector<std::string>& args, int stdoutFd,
            const std::vector<std::pair<const char*, const char*>>& env) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
    ::setenv("BREVLOAD_HOME", dir.c_str(), 1);
    for (const auto& [name, value] : env) ::setenv(name, value, 1);
    if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
    const int err = ::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    std::vector<std::string> all{BREVLOAD_WINDOW_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Waits for the process; kills it when it takes longer than `limit`.
Exit Wait(pid_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Exit e;
    e.exited = WIFEXITED(status);
    e.code = e.exited ? WEXITSTATUS(status) : -1;
    e.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return e;
}

// Runs the program to its end with standard output captured.
std::pair<Exit, std::string> RunToEnd(const std::filesystem::path& dir,
                                      const std::vector<std::string>& args) {
    const auto outFile = dir / "stdout.txt";
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = Start(dir, args, out, {});
    ::close(out);
    const Exit e = Wait(pid, std::chrono::seconds(30));
    return {e, test::ReadText(outFile)};
}

// Without a display a window could not open: exit 0 shows none was tried.
TEST(WindowProcessTest, HelpAndVersionPrintAndExitWithoutAWindow) {
    test::TempDir dir("brev-window");
    const auto [help, usage] = RunToEnd(dir.path(), {"--help"});
    EXPECT_TRUE(help.exited);
    EXPECT_EQ(help.code, 0);
    for (const char* option :
         {"-a ", "-cr ", "-df ", "-fFILE ", "--simulate N", "--simulate-pc N", "--download-all",
          "--screenshot FILE", "--screenshot-after MS", "--test-zone", "--sim-dir DIR", "--records FILE",
          "--no-records", "--station NAME", "--records-url URL", "--help", "--version"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;

    // Also among other arguments, and before a bad one is looked at.
    const auto [version, text] = RunToEnd(dir.path(), {"-a", "--simulate", "x", "--version"});
    EXPECT_TRUE(version.exited);
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(text.starts_with("brevload ")) << text;
    EXPECT_NE(text.find('.'), std::string::npos) << text;
}

// Counts out of range or not numbers at all, and options without their value, are refused with
// the reason, before a window opens.
TEST(WindowProcessTest, BadOptionsAreRefused) {
    test::TempDir dir("brev-window");
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--simulate", "3000"}, "is not a number from 0 to 64"},
        {{"--simulate", "abc"}, "is not a number from 0 to 64"},
        {{"--simulate=65"}, "is not a number from 0 to 64"},
        {{"--simulate-pc", "-1"}, "is not a number from 0 to 64"},
        {{"--simulate"}, "is not a number from 0 to 64"},
        {{"--simulate", "1", "--station"}, "--station: a value is needed"},
    };
    for (const auto& c : cases) {
        const auto [run, out] = RunToEnd(dir.path(), c.args);
        EXPECT_TRUE(run.exited) << c.args.back();
        EXPECT_EQ(run.code, 1) << c.args.back();
        EXPECT_NE(test::ReadText(dir / "stderr.txt").find(c.reason), std::string::npos) << c.args.back();
    }
}

// The window's jobs are recorded where --records says, under the name --station gives.
TEST(WindowProcessTest, RecordsGoWhereTheCommandLineSays) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    test::TempDir dir("brev-window");
    const auto image = dir / "fw.up";
    ASSERT_TRUE(WriteUpdateImage(image, test::Pattern(5000, 12)));
    const auto records = dir / "named.sqlite";
    const pid_t pid = Start(dir.path(),
                            {"-a", "-f" + image.string(), "--simulate", "1", "--records", records.string(),
                             "--station", "window 1", "--screenshot", (dir / "shot.png").string()},
                            -1, {{"QT_QPA_PLATFORM", "offscreen"}});
    const Exit e = Wait(pid, std::chrono::seconds(60));
    EXPECT_EQ(e.code, 0) << test::ReadText(dir / "stderr.txt");
    std::string error;
    const auto kept = Records::Open(records, "reader", "1", error);
    ASSERT_TRUE(kept) << error;
    const auto rows = kept->Query({}, error);
    ASSERT_EQ(rows.size(), 1u) << error;
    EXPECT_EQ(rows[0].station, "window 1");
    EXPECT_EQ(rows[0].device, "sim0");
    EXPECT_EQ(rows[0].result, "ok");
    EXPECT_EQ(rows[0].bytes, 5000);
}

// `brevload -a -fFILE | head -1`: the reader goes away at once; the downloads go on to the end.
TEST(WindowProcessTest, ConsoleThatGoesAwayDoesNotStopTheDownloads) {
    test::TempDir dir("brev-window");
    const auto data = test::Pattern(4096 + 33, 11);
    const auto image = dir / "fw.up";
    ASSERT_TRUE(WriteUpdateImage(image, data));
    const auto flash = dir / "flash";

    // A simulated chip resets after its download and comes back; with a PC-mode device in the
    // run the mode file allows PC updates, so it comes back in PC mode and is downloaded once.
    // Close-on-exec: the program must not hold the read end itself.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t pid =
        Start(dir.path(),
              {"-a", "-f" + image.string(), "--simulate", "2", "--simulate-pc", "1", "--sim-dir",
               flash.string(), "--screenshot", (dir / "shot.png").string(), "--screenshot-after", "8000"},
              fds[1], {{"QT_QPA_PLATFORM", "offscreen"}});
    ::close(fds[1]);
    ::close(fds[0]);  // nobody reads the console
    const Exit e = Wait(pid, std::chrono::seconds(60));
    EXPECT_EQ(e.signal, 0) << "ended by signal " << e.signal;
    EXPECT_TRUE(e.exited);
    EXPECT_EQ(e.code, 0) << test::ReadText(dir / "stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(dir / "shot.png"));
    for (const char* name : {"sim0", "sim1"}) {
        const std::string written = test::ReadText(flash / (std::string(name) + ".flash"));
        ASSERT_GE(written.size(), data.size()) << name;
        EXPECT_EQ(
            std::vector<uint8_t>(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(data.size())),
            data)
            << name;
    }
}

}  // namespace
}  // namespace brev
