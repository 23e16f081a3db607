// Runs brevload-cli as a child process in a temporary folder of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Pattern.h"
#include "tests/support/TempDir.h"

namespace brev::clitest {

struct RunResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// A fresh folder (removed at the end) that is the tool's working directory and BREVLOAD_HOME;
// its "tmp" is the tool's TMPDIR.
class CliFolder {
public:
    CliFolder() : dir_("brev-cli") {}

    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

    // Runs the tool to its end with standard output and error captured. The tool runs with
    // LANG=zh_CN.UTF-8 (its texts in Chinese) and LC_ALL, LC_MESSAGES unset, unless `locale`
    // names another LANG.
    RunResult Run(const std::vector<std::string>& args, const std::string& locale = "zh_CN.UTF-8",
                  bool shell = false) const;
#ifndef _WIN32
    // Runs `script` with bash in the folder, the tool's path in $BREVLOAD_CLI.
    RunResult RunShell(const std::string& script) const;

    // Starts the tool with standard output on a pipe; read it with ReadUntil.
    pid_t Spawn(const std::vector<std::string>& args, int* stdoutFd) const;
#endif

private:
    test::TempDir dir_;
};

#ifndef _WIN32
// Reads from `fd` into `out` until `needle` appears or `timeout` passes; true when it appeared.
bool ReadUntil(int fd, const std::string& needle, std::string& out, std::chrono::milliseconds timeout);
// Reads the rest of `fd` into `out`, waits for `pid` and returns its exit code (-1 on a signal).
int Finish(pid_t pid, int fd, std::string& out);
#endif

using test::ReadBytes;
using test::WriteBytes;
inline std::vector<uint8_t> SomeData(size_t size, uint32_t seed) { return test::Pattern(size, seed); }
std::vector<std::string> Lines(const std::string& text);

// True when `line` is exactly one JSON value in valid UTF-8.
bool IsValidJson(const std::string& line);

}  // namespace brev::clitest
