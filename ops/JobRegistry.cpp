#include "ops/JobRegistry.h"

#include <system_error>
#include <utility>

namespace brev {

CJobRegistry::~CJobRegistry() { WaitAll(); }

bool CJobRegistry::TryStart(const std::string& deviceName, std::function<void()> body,
                            std::function<void()> afterRelease) {
    reapFinished();
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_.count(deviceName) != 0) return false;
    const uint64_t id = nextId_++;
    auto run = [this, id, deviceName, body = std::move(body), afterRelease = std::move(afterRelease)]() {
        body();
        {
            std::lock_guard<std::mutex> l(mutex_);
            busy_.erase(deviceName);
        }
        if (afterRelease) afterRelease();
        std::lock_guard<std::mutex> l(mutex_);
        // The thread object was stored before this lock could be taken (TryStart holds it).
        auto it = running_.find(id);
        finished_.push_back(std::move(it->second));
        running_.erase(it);
        idle_.notify_all();
    };
    try {
        busy_.insert(deviceName);
        running_.emplace(id, std::thread(std::move(run)));
    } catch (const std::system_error&) {
        busy_.erase(deviceName);
        return false;
    }
    return true;
}

bool CJobRegistry::IsBusy(const std::string& deviceName) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_.count(deviceName) != 0;
}

std::vector<std::string> CJobRegistry::BusyDevices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {busy_.begin(), busy_.end()};
}

void CJobRegistry::WaitAll() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return running_.empty(); });
    }
    reapFinished();
}

void CJobRegistry::reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done.swap(finished_);
    }
    // These threads have left the registry's lock for good; joining only waits for their exit.
    for (auto& t : done) t.join();
}

bool CJobRegistry::TryClaimFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return claimedFiles_.insert(path).second;
}

void CJobRegistry::ReleaseFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    claimedFiles_.erase(path);
}

}  // namespace brev
