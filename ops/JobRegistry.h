// Owns the job threads: one operation per device at a time, and a way to wait for all.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace brev {

class CJobRegistry {
public:
    CJobRegistry() = default;
    ~CJobRegistry();  // waits for every running job
    CJobRegistry(const CJobRegistry&) = delete;
    CJobRegistry& operator=(const CJobRegistry&) = delete;

    // Runs `body` on a thread of its own unless a job for `deviceName` is running.
    // False (nothing started) when the device is busy or no thread can be started.
    // `afterRelease`, when given, runs on the job's thread once the device no longer counts
    // as busy (so a listener told there that the job ended can start the next one at once).
    bool TryStart(const std::string& deviceName, std::function<void()> body,
                  std::function<void()> afterRelease = {});
    bool IsBusy(const std::string& deviceName) const;
    std::vector<std::string> BusyDevices() const;  // sorted
    // Blocks until no job runs. Must not be called from a job's own thread.
    void WaitAll();

    // Exclusive use of an output file (read.bin) across jobs; false when already taken.
    bool TryClaimFile(const std::string& path);
    void ReleaseFile(const std::string& path);

private:
    void reapFinished();

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::set<std::string> busy_;
    uint64_t nextId_ = 0;
    std::map<uint64_t, std::thread> running_;
    std::vector<std::thread> finished_;
    std::set<std::string> claimedFiles_;
};

}  // namespace brev
