#include "base/FileChecks.h"

#include <cerrno>
#include <fstream>

#include "base/AtomicFile.h"
#include "base/Utf8Path.h"

namespace brev {
namespace fs = std::filesystem;

std::string InputFileProblem(const fs::path& path, bool emptyOk) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return "no such file";
    if (ec) return ec.message();
    if (fs::is_directory(status)) return "a folder, not a file";
    if (!fs::is_regular_file(status)) return "not a regular file";
    const auto size = fs::file_size(path, ec);
    if (ec) return ec.message();
    // Regular by type only now: opening cannot block.
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return errno != 0 ? std::generic_category().message(errno) : "the file cannot be opened";
    if (size == 0 && !emptyOk) return "the file is empty";
    return {};
}

std::string OutputFileProblem(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const fs::file_status folderStatus = fs::status(folder, ec);
    if (folderStatus.type() == fs::file_type::not_found)
        return "the folder " + PathToUtf8(folder) + " does not exist";
    if (!fs::is_directory(folderStatus)) return PathToUtf8(folder) + " is not a folder";
    const fs::file_status status = fs::status(path, ec);
    if (fs::is_directory(status)) return "a folder, not a file";
    if (fs::exists(status) && !fs::is_regular_file(status)) return "not a regular file";
    AtomicFile probe(path);
    if (const auto e = probe.Open()) return e.message();
    probe.Discard();
    return {};
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return !ca.empty() && ca == cb;
}

}  // namespace brev
