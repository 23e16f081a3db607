// One operator per device across processes: a job holds its device's lock from before its first
// command to its end, and a job that finds the lock held elsewhere fails at once as busy. The
// platform's implementation lives in app/ (a lock file on Linux, a named mutex on Windows).
#pragma once

#include <memory>
#include <string>

#include "device/CMutilMassStorage.h"

namespace brev {

// Held while alive. Released by the thread that took it.
class IDeviceLock {
public:
    virtual ~IDeviceLock() = default;
};

struct DeviceLockAttempt {
    std::unique_ptr<IDeviceLock> lock;  // null: not taken
    bool busy = false;                  // another holder has it (else: no lock could be made at all)
    std::string holder;                 // "process 1234" when known
    std::string error;                  // why no lock could be made, when not busy
};

class IDeviceLocks {
public:
    virtual ~IDeviceLocks() = default;
    // Takes the lock for `key` without waiting.
    virtual DeviceLockAttempt TryLock(const std::string& key) = 0;
};

// What a device is locked by: its USB port path when known (stable across plugs and names),
// else what opens it.
inline std::string DeviceLockKey(const PresentDevice& device) {
    return !device.location.portPath.empty() ? "port-" + device.location.portPath : device.devicePath;
}

// `key` as one file or object name: letters, digits, '-' and '.' kept, anything else '_'.
inline std::string DeviceLockName(const std::string& key) {
    std::string name = key;
    for (char& c : name) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.';
        if (!keep) c = '_';
    }
    if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
    return name;
}

struct JobEnvironment;
struct JobOutcome;
class JobReport;

// Takes the lock for `key` into `held` before a job's first command. False when another process
// holds it: the job has then failed as busy (the operator's line, the reason and the holder).
// A lock that cannot be made at all does not stop the job.
bool TakeDeviceLock(const JobEnvironment& env, const std::string& key, const JobReport& report,
                    JobOutcome& outcome, std::unique_ptr<IDeviceLock>& held);

}  // namespace brev
