#include "cli/JobRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>

namespace brev::cli {
namespace {

std::atomic<int> gSignalFd{-1};
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnStopSignal(int) {
    gInterrupted = 1;
    const int fd = gSignalFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(fd, &byte, 1);
    }
}

bool MakePipe(int fds[2]) {
    if (::pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK);
        ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    }
    return true;
}

void Drain(int fd) {
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

// Installed for the runner's lifetime. SA_RESETHAND: a second signal acts as usual.
class StopSignals {
public:
    StopSignals() {
        if (!MakePipe(pipe_)) pipe_[0] = pipe_[1] = -1;
        gInterrupted = 0;
        gSignalFd = pipe_[1];
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        ::sigaction(SIGINT, &sa, &oldInt_);
        ::sigaction(SIGTERM, &sa, &oldTerm_);
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        gSignalFd = -1;
        for (int fd : pipe_)
            if (fd >= 0) ::close(fd);
    }
    int fd() const { return pipe_[0]; }

private:
    int pipe_[2] = {-1, -1};
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

StopSignals* gSignals = nullptr;
int gWakePipe[2] = {-1, -1};

}  // namespace

JobRunner::JobRunner(Session& session, COutput& output) : session_(session), output_(output) {
    gSignals = new StopSignals();
    if (!MakePipe(gWakePipe)) gWakePipe[0] = gWakePipe[1] = -1;
    const int wakeFd = gWakePipe[1];
    output_.SetFinishedHook([wakeFd] {
        if (wakeFd < 0) return;
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd, &byte, 1);
    });
}

JobRunner::~JobRunner() {
    session_.registry().WaitAll();
    output_.SetFinishedHook({});
    for (int& fd : gWakePipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    delete gSignals;
    gSignals = nullptr;
}

bool JobRunner::startOne(const PresentDevice& device, const std::vector<PresentDevice>& present,
                         const StartFn& start) {
    output_.JobStarted(device.name);
    if (!start(device, present)) {
        output_.JobNotStarted(device.name, "refused");
        return false;
    }
    ++started_;
    return true;
}

void JobRunner::waitOnce(int eventFd, int timeoutMs) {
    pollfd fds[3];
    nfds_t n = 0;
    const int sigFd = gSignals != nullptr ? gSignals->fd() : -1;
    for (int fd : {sigFd, gWakePipe[0], eventFd}) {
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
    }
    const int r = ::poll(fds, n, timeoutMs);
    if (r < 0 && errno != EINTR) {
        // Nothing sensible to do but not spin.
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
    if (sigFd >= 0) Drain(sigFd);
    if (gWakePipe[0] >= 0) Drain(gWakePipe[0]);
    if (gInterrupted != 0 && !interruptNoted_) {
        interruptNoted_ = true;
        output_.Error("interrupted: no new jobs; waiting for the running ones to finish");
    }
    output_.Tick();
}

void JobRunner::waitForRunningJobs() {
    while (output_.Finished() < started_) waitOnce(-1, 100);
}

ExitCode JobRunner::finish() {
    session_.registry().WaitAll();
    output_.Summary();
    if (output_.Rows() == 0) return ExitCode::NoDevice;
    return output_.AnyFailed() ? ExitCode::DeviceFailed : ExitCode::Ok;
}

ExitCode JobRunner::RunOnce(const StartFn& start,
                            const std::function<void(const std::vector<PresentDevice>&)>& onChosen) {
    const std::vector<PresentDevice> present = session_.Scan();
    const std::vector<PresentDevice> chosen = session_.Select(present);
    if (chosen.empty()) {
        output_.Error("no device to work on");
        if (output_.Rows() > 0) output_.Summary();
        return ExitCode::NoDevice;
    }
    if (onChosen) onChosen(chosen);
    for (const PresentDevice& device : chosen) {
        if (gInterrupted != 0) break;
        startOne(device, present, start);
    }
    waitForRunningJobs();
    return finish();
}

ExitCode JobRunner::Watch(const StartFn& start, int count) {
    using Clock = std::chrono::steady_clock;
    IDeviceEventSource* events = session_.Events();
    // Whatever is already queued describes devices the scan below finds anyway.
    if (events != nullptr) (void)events->ReadEvents();
    // Named devices that are not here yet may still arrive: no "not present" rows.
    std::vector<PresentDevice> present = session_.Scan();
    if (events == nullptr) {
        output_.Error("cannot watch for arriving devices on this system");
        if (present.empty()) return ExitCode::NoDevice;
    }

    const auto limitReached = [&] { return count > 0 && started_ >= static_cast<size_t>(count); };
    for (const PresentDevice& device : present) {
        if (limitReached()) break;
        if (session_.Wanted(device.name)) startOne(device, present, start);
    }
    output_.Message(count > 0 ? "waiting for devices (" + std::to_string(count) + " in all); Ctrl-C ends"
                              : "waiting for devices; Ctrl-C ends");

    struct Pending {
        VolumeRef volume;
        Clock::time_point due;
    };
    std::vector<Pending> pending;
    const auto delay = std::chrono::milliseconds(session_.arrivalDelayMs());
    for (;;) {
        if (gInterrupted != 0) break;
        if (count > 0 && output_.Finished() >= static_cast<size_t>(count)) break;
        if (events == nullptr && output_.Finished() >= started_) break;

        int timeoutMs = 100;
        const int eventFd = events != nullptr ? events->Fd() : -1;
        if (!pending.empty()) {
            const auto next =
                std::min_element(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
                    return a.due < b.due;
                })->due;
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 100));
        }
        waitOnce(eventFd, timeoutMs);
        if (gInterrupted != 0) break;

        if (events != nullptr) {
            for (const DeviceEvent& e : events->ReadEvents()) {
                const std::string& name = e.volume.name;
                std::erase_if(pending, [&](const Pending& p) { return p.volume.name == name; });
                if (e.kind == DeviceEvent::Kind::Removal) {
                    std::erase_if(present, [&](const PresentDevice& d) { return d.name == name; });
                    continue;
                }
                // An arrival for a device still listed (no removal in between) is the same device.
                const bool listed = FindPresentDevice(present, name) != nullptr;
                if (!listed && session_.Wanted(name)) pending.push_back({e.volume, Clock::now() + delay});
            }
        }
        const auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->due > now) {
                ++it;
                continue;
            }
            PresentDevice device;
            if (session_.Probe(it->volume, device)) {
                present.push_back(device);
                output_.Message("device arrived", device.name);
                if (!limitReached()) startOne(device, present, start);
            }
            it = pending.erase(it);
        }
    }
    waitForRunningJobs();
    return finish();
}

}  // namespace brev::cli
