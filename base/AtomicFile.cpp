#include "base/AtomicFile.h"

#include <cerrno>
#include <chrono>
#include <random>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace brev {
namespace fs = std::filesystem;

namespace {

std::error_code Errno() { return {errno, std::generic_category()}; }

#ifdef _WIN32
int OpenNew(const fs::path& path) {
    return ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long WriteSome(int fd, const char* data, std::size_t size) {
    const unsigned int chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(size);
    return ::_write(fd, data, chunk);
}
int OpenExisting(const fs::path& path) { return ::_wopen(path.c_str(), _O_WRONLY | _O_BINARY); }
int SyncFd(int fd) { return ::_commit(fd); }
int CloseFd(int fd) { return ::_close(fd); }
#else
int OpenNew(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}
int OpenExisting(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
long long WriteSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
int SyncFd(int fd) { return ::fsync(fd); }
int CloseFd(int fd) { return ::close(fd); }
#endif

std::error_code ReplaceFile(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {static_cast<int>(::GetLastError()), std::system_category()};
    return {};
#else
    std::error_code ec;
    fs::rename(from, to, ec);
    return ec;
#endif
}

fs::path FolderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

}  // namespace

fs::path TemporaryNameFor(const fs::path& target) {
    static thread_local std::mt19937 numbers{std::random_device{}()};
    fs::path name = ".";
    name += target.filename();
    name += ".";
    name += std::to_string(numbers());
    name += ".tmp";
    return target.parent_path() / name;
}

void RemoveLeftoverTemporaries(const fs::path& target, int minAgeSeconds) {
    const std::string prefix = "." + target.filename().string() + ".";
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(FolderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || !name.starts_with(prefix) || !name.ends_with(".tmp"))
            continue;
        const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (middle.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code e;
        const auto written = fs::last_write_time(it->path(), e);
        if (e || now - written < std::chrono::seconds(minAgeSeconds)) continue;
        if (it->is_regular_file(e)) fs::remove(it->path(), e);
    }
}

std::error_code SyncFolder(const fs::path& folder) {
#ifdef __linux__
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Errno();
    std::error_code ec;
    if (::fsync(fd) != 0) ec = Errno();
    ::close(fd);
    return ec;
#else
    (void)folder;
    return {};
#endif
}

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    if (!committed_) Discard();
}

std::error_code AtomicFile::Open() {
    if (fd_ >= 0 || error_) return error_;
    std::error_code ec;
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(target_, ec)) {
        const fs::path resolved = fs::weakly_canonical(target_, ec);
        if (!ec) target_ = resolved;
    }
    const fs::file_status status = fs::status(target_, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status)) {
        // A device node or a FIFO is written in place: a file renamed over it would take the
        // node's place. Never blocks: a FIFO without a reader is refused.
        errno = 0;
        fd_ = OpenExisting(target_);
        if (fd_ < 0) error_ = Errno();
        inPlace_ = true;
        return error_;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp_ = TemporaryNameFor(target_);
        errno = 0;
        fd_ = OpenNew(temp_);
        if (fd_ >= 0) return {};
        if (errno != EEXIST) break;
    }
    error_ = Errno();
    temp_.clear();
    return error_;
}

std::error_code AtomicFile::Write(const void* data, std::size_t size) {
    if (!error_ && fd_ < 0) error_ = std::make_error_code(std::errc::bad_file_descriptor);
    const char* p = static_cast<const char*>(data);
    while (!error_ && size > 0) {
        errno = 0;
        const long long n = WriteSome(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n == 0 ? std::make_error_code(std::errc::no_space_on_device) : Errno();
            break;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return error_;
}

std::error_code AtomicFile::Commit() {
    if (!error_ && fd_ < 0) error_ = std::make_error_code(std::errc::bad_file_descriptor);
    if (!error_ && !inPlace_ && SyncFd(fd_) != 0) error_ = Errno();
    if (fd_ >= 0) {
        if (CloseFd(fd_) != 0 && !error_) error_ = Errno();
        fd_ = -1;
    }
    if (!error_ && inPlace_) {
        committed_ = true;
        return {};
    }
    if (!error_) {
        // A file replaced keeps its permissions.
        std::error_code ec;
        const fs::file_status old = fs::status(target_, ec);
        if (!ec && fs::is_regular_file(old)) fs::permissions(temp_, old.permissions(), ec);
        error_ = ReplaceFile(temp_, target_);
    }
    if (error_) {
        Discard();
        return error_;
    }
    committed_ = true;
    // The data is in place; a folder that cannot be flushed costs only the power-cut guarantee.
    SyncFolder(FolderOf(target_));
    return {};
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        CloseFd(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        temp_.clear();
    }
}

std::error_code WriteFileAtomically(const fs::path& path, const void* data, std::size_t size) {
    AtomicFile file(path);
    if (const auto ec = file.Open()) return ec;
    if (const auto ec = file.Write(data, size)) return ec;
    return file.Commit();
}

}  // namespace brev
