// Windows: one named mutex per device. The system abandons a mutex whose owner ends, so a killed
// process leaves nothing held; who holds it is not known.
#include "app/DeviceLocks.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Utf8Path.h"
#include "base/windows/WideText.h"

namespace brev {
namespace {

class MutexLock : public IDeviceLock {
public:
    explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
    ~MutexLock() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
};

// Simulated devices of different folders must not meet: their folder goes into the name.
std::string ScopeOf(const std::filesystem::path& folder) {
    if (folder.empty()) return "brevload-";
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : PathToUtf8(std::filesystem::absolute(folder).lexically_normal())) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "brevload-%016llx-", static_cast<unsigned long long>(hash));
    return buf;
}

class MutexLocks : public IDeviceLocks {
public:
    explicit MutexLocks(const std::filesystem::path& folder) : scope_(ScopeOf(folder)) {}

    DeviceLockAttempt TryLock(const std::string& key) override {
        DeviceLockAttempt attempt;
        const std::wstring name = win::WideFromUtf8(scope_ + DeviceLockName(key));
        // Global: other sessions (a service, another user) see it too; Local when that is refused.
        HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
        if (mutex == nullptr) mutex = CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
        if (mutex == nullptr) {
            attempt.error = "cannot create the device's mutex (error " + std::to_string(GetLastError()) + ")";
            return attempt;
        }
        const DWORD wait = WaitForSingleObject(mutex, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            attempt.lock = std::make_unique<MutexLock>(mutex);
            return attempt;
        }
        CloseHandle(mutex);
        if (wait == WAIT_TIMEOUT) {
            attempt.busy = true;
        } else {
            attempt.error =
                "cannot wait for the device's mutex (error " + std::to_string(GetLastError()) + ")";
        }
        return attempt;
    }

private:
    std::string scope_;
};

}  // namespace

std::shared_ptr<IDeviceLocks> MakePlatformDeviceLocks(const std::filesystem::path& folder) {
    return std::make_shared<MutexLocks>(folder);
}

}  // namespace brev
