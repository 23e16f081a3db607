// Checks of the files named on a command line before any device is touched.
#pragma once

#include <filesystem>
#include <string>

namespace brev {

// Why `path` cannot be read as an input file, or "" when it can: a readable regular file, and
// not empty unless `emptyOk`. Its type is looked at before it is opened, so a FIFO or a device
// node never blocks the caller.
std::string InputFileProblem(const std::filesystem::path& path, bool emptyOk = false);

// Why no file can be written at `path`, or "": its folder exists and takes a new file (tried
// with a temporary file that is removed again), and `path` is no folder.
std::string OutputFileProblem(const std::filesystem::path& path);

// True when `a` and `b` name the same file, through links and relative names, also when
// either does not exist yet.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace brev
