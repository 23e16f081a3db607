// Runs jobs on devices and waits for them on the main thread: poll() on a signal pipe, a
// job-finished pipe and, for watch, the device event source. SIGINT, SIGTERM and SIGHUP stop new
// work and running jobs finish (exit 130); a second one ends the process at once, naming the
// devices left half-written.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/ExitCode.h"
#include "cli/Output.h"
#include "cli/Session.h"

namespace brev::cli {

class Pipe;
class StopSignals;

class JobRunner {
public:
    // Starts the job for `device`; `present` is the list jobs look devices up in.
    // False when the job was refused (the operations layer says why).
    using StartFn =
        std::function<bool(const PresentDevice& device, const std::vector<PresentDevice>& present)>;

    JobRunner(Session& session, COutput& output);
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // For commands that change a device's contents: with several devices present and no
    // --device, RunOnce refuses (bad usage) unless `all`.
    void RefuseSeveralUnless(bool all) { refuseSeveral_ = !all; }

    // One job on each present device chosen with --device (all when none was named), then the
    // summary; nothing starts when a --device matches no device (no device, 3). `onChosen`, when
    // given, learns the chosen devices before any job starts.
    ExitCode RunOnce(const StartFn& start,
                     const std::function<void(const std::vector<PresentDevice>&)>& onChosen = {});
    // Factory mode: a job on every chosen device present and on every one that arrives, until
    // interrupted or `count` jobs (0: no limit) have finished; then the summary.
    ExitCode Watch(const StartFn& start, int count);

private:
    bool startOne(const PresentDevice& device, const std::vector<PresentDevice>& present,
                  const StartFn& start);
    // Polls the pipes (and `eventFd` when >= 0) for at most `timeoutMs`.
    void waitOnce(int eventFd, int timeoutMs);
    void waitForRunningJobs();
    ExitCode finish();
    [[noreturn]] void abandon();
    bool interrupted() const;

    Session& session_;
    COutput& output_;
    StopSignals* signals_;        // the session's: a signal before the runner existed counts too
    std::unique_ptr<Pipe> wake_;  // a finished job pokes it
    size_t started_ = 0;
    bool interruptNoted_ = false;
    bool refuseSeveral_ = false;
};

}  // namespace brev::cli
