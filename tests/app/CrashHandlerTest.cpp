// A child process installs the handler and crashes; the parent reads the report it left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/CrashHandler.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

enum class Crash { BadAddress, Abort };

[[noreturn]] void CrashChild(const std::filesystem::path& dir, Crash how) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (chdir(dir.c_str()) != 0) _exit(3);
    InstallCrashHandler();
    if (how == Crash::BadAddress) {
        // Read through a volatile so the compiler cannot see the address.
        volatile uintptr_t address = 0x10;
        volatile int* bad = reinterpret_cast<volatile int*>(address);
        *bad = 1;
    } else {
        std::abort();
    }
    _exit(0);  // not reached when the handler works
}

TEST(CrashHandlerTest, FatalSignalLeavesReportAndEndsTheProcess) {
    struct Case {
        Crash how;
        int signal;
        const char* signalLine;
    };
    for (Case c : {Case{Crash::BadAddress, SIGSEGV, "signal: 11 (SIGSEGV)\n"},
                   Case{Crash::Abort, SIGABRT, "signal: 6 (SIGABRT)\n"}}) {
        SCOPED_TRACE(c.signalLine);
        test::TempDir tmp;
        // An older report is replaced whole.
        std::ofstream(tmp.path() / kCrashDumpFile) << std::string(100000, 'x');

        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) CrashChild(tmp.path(), c.how);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), c.signal);

        std::ifstream in(tmp.path() / kCrashDumpFile);
        std::stringstream report;
        report << in.rdbuf();
        const std::string text = report.str();
        EXPECT_TRUE(text.starts_with("brevload crash report\n")) << text;
        EXPECT_NE(text.find(c.signalLine), std::string::npos) << text;
        if (c.how == Crash::BadAddress) {
            EXPECT_NE(text.find("code: 1\naddress: 0x10\n"), std::string::npos) << text;  // SEGV_MAPERR
        } else {
            EXPECT_NE(text.find("code: -6\n"), std::string::npos) << text;  // SI_TKILL: raised by abort()
        }
        EXPECT_NE(text.find("pid: " + std::to_string(pid) + "\n"), std::string::npos) << text;
        // At least the handler's own frame follows the heading.
        auto bt = text.find("backtrace:\n");
        ASSERT_NE(bt, std::string::npos);
        EXPECT_GT(text.size(), bt + 20);
        EXPECT_EQ(text.find("xxxxxxxx"), std::string::npos);
    }
}

}  // namespace
}  // namespace brev
