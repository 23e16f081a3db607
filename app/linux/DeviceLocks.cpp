// Linux: flock on one file per device. The kernel drops the lock with the last descriptor, so a
// killed process leaves nothing behind; the file stays (removing it would race a new holder)
// and holds the holder's process id while it is locked.
#include "app/DeviceLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

#include "base/Utf8Path.h"

namespace brev {
namespace {

class FileLock : public IDeviceLock {
public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override {
        // Emptied before the unlock: a process id in the file always names a holder or a dead one.
        (void)::ftruncate(fd_, 0);
        ::close(fd_);
    }

private:
    int fd_;
};

// A folder every user may lock in (sticky like /tmp), or a private one; true when usable.
bool Usable(const std::filesystem::path& folder, mode_t mode) {
    if (::mkdir(folder.c_str(), mode) == 0) (void)::chmod(folder.c_str(), mode);  // past the umask
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path SharedFolder() {
    const std::filesystem::path system = "/run/lock/brevload";
    if (Usable(system, 01777)) return system;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/') {
        const std::filesystem::path own = std::filesystem::path(runtime) / "brevload";
        if (Usable(own, 0700)) return own;
    }
    return {};
}

std::string HolderOf(int fd) {
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return {};
    std::string digits;
    for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i) digits += buf[i];
    return digits.empty() ? std::string() : "process " + digits;
}

class FileLocks : public IDeviceLocks {
public:
    explicit FileLocks(std::filesystem::path folder) : folder_(std::move(folder)), shared_(folder_.empty()) {}

    DeviceLockAttempt TryLock(const std::string& key) override {
        DeviceLockAttempt attempt;
        const std::filesystem::path folder = this->folder();
        if (folder.empty()) {
            attempt.error = "no folder for device locks (/run/lock/brevload, $XDG_RUNTIME_DIR/brevload)";
            return attempt;
        }
        const std::filesystem::path file = folder / (DeviceLockName(key) + ".lock");
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno == EACCES) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            attempt.error = "cannot open " + PathToUtf8(file) + ": " + std::strerror(errno);
            return attempt;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                attempt.busy = true;
                attempt.holder = HolderOf(fd);
            } else {
                attempt.error = "cannot lock " + PathToUtf8(file) + ": " + std::strerror(error);
            }
            ::close(fd);
            return attempt;
        }
        (void)::fchmod(fd, 0666);  // another user's process may take it after us
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) (void)::pwrite(fd, pid.data(), pid.size(), 0);
        attempt.lock = std::make_unique<FileLock>(fd);
        return attempt;
    }

private:
    std::filesystem::path folder() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!chosen_) {
            chosen_ = true;
            if (shared_) {
                folder_ = SharedFolder();
            } else {
                std::error_code ec;
                std::filesystem::create_directories(folder_, ec);
            }
        }
        return folder_;
    }

    std::mutex mutex_;
    std::filesystem::path folder_;
    bool shared_;
    bool chosen_ = false;
};

}  // namespace

std::shared_ptr<IDeviceLocks> MakePlatformDeviceLocks(const std::filesystem::path& folder) {
    return std::make_shared<FileLocks>(folder);
}

}  // namespace brev
