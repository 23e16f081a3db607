// Owns the job threads: one operation per device at a time, and a way to wait for all.
#pragma once

#include <condition_variable>
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
    bool TryStart(const std::string& deviceName, std::function<void()> body);
    bool IsBusy(const std::string& deviceName) const;
    std::vector<std::string> BusyDevices() const;
    // Blocks until no job runs.
    void WaitAll();

    // Exclusive use of an output file (read.bin) across jobs; false when already taken.
    bool TryClaimFile(const std::string& path);
    void ReleaseFile(const std::string& path);

private:
    void reapFinished();

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::map<std::string, std::thread> running_;
    std::vector<std::thread> finished_;
    std::set<std::string> claimedFiles_;
};

}  // namespace brev
