#include "cli/JobRunner.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/Signals.h"

namespace brev::cli {

JobRunner::JobRunner(Session& session, COutput& output)
    : session_(session), output_(output), signals_(session.signals()), wake_(std::make_unique<Pipe>()) {
    output_.SetFinishedHook([wakeFd = wake_->writeFd()] { Pipe::Poke(wakeFd); });
}

JobRunner::~JobRunner() {
    session_.registry().WaitAll();
    output_.SetFinishedHook({});
}

bool JobRunner::interrupted() const { return signals_->interrupted(); }

bool JobRunner::startOne(const PresentDevice& device, const std::vector<PresentDevice>& present,
                         const StartFn& start) {
    output_.NameSlot(device.name, device.slot);
    output_.JobStarted(device.name);
    if (!start(device, present)) {
        output_.JobNotStarted(device.name, "refused");
        return false;
    }
    ++started_;
    return true;
}

void JobRunner::waitOnce(int eventFd, int timeoutMs) {
#ifdef _WIN32
    // Windows' event sources have no descriptor (-1): they are read every time the wait ends.
    (void)eventFd;
    WaitForAny({signals_->fd(), wake_->readFd()}, timeoutMs);
#else
    pollfd fds[3];
    nfds_t n = 0;
    for (int fd : {signals_->fd(), wake_->readFd(), eventFd}) {
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
    }
    const int r = ::poll(fds, n, timeoutMs);
    if (r < 0 && errno != EINTR) {
        // Nothing sensible to do but not spin.
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
#endif
    signals_->Drain();
    wake_->Drain();
    if (interrupted() && !interruptNoted_) {
        interruptNoted_ = true;
        output_.Error("interrupted: no new jobs; waiting for the running ones to finish (again: stop now)");
    }
    if (signals_->interruptedAgain()) abandon();
    output_.Tick();
}

void JobRunner::waitForRunningJobs() {
    while (output_.Finished() < started_) waitOnce(-1, 100);
}

ExitCode JobRunner::finish() {
    session_.registry().WaitAll();
    output_.Summary();
    if (interrupted()) return ExitCode::Interrupted;
    if (output_.Rows() == 0) return ExitCode::NoDevice;
    return output_.AnyFailed() ? ExitCode::DeviceFailed : ExitCode::Ok;
}

void JobRunner::abandon() {
    // The running jobs cannot be stopped between two commands safely; the operator chose to
    // leave their devices as they are. Say which, print the summary, leave no temporary files.
    const std::vector<std::string> halfWritten = output_.AbandonRunning();
    std::string names;
    for (const std::string& name : halfWritten) names += (names.empty() ? "" : ", ") + name;
    output_.Error(halfWritten.empty() ? "interrupted again: stopping"
                                      : "interrupted again: stopping; left half-written: " + names);
    output_.Summary();
    session_.Abandon();
    std::fflush(nullptr);
    std::_Exit(ToInt(ExitCode::Interrupted));
}

ExitCode JobRunner::RunOnce(const StartFn& start,
                            const std::function<void(const std::vector<PresentDevice>&)>& onChosen) {
    const std::vector<PresentDevice> present = session_.Scan();
    std::vector<PresentDevice> chosen;
    if (!session_.Select(present, chosen)) {
        output_.Summary();
        return ExitCode::NoDevice;
    }
    if (refuseSeveral_ && !session_.Named() && chosen.size() > 1) {
        output_.Error(std::to_string(chosen.size()) +
                      " devices are present: choose them with --device, or give --all to work on every one");
        return ExitCode::Usage;
    }
    if (chosen.empty()) {
        output_.Error("no device to work on");
        if (output_.Rows() > 0) output_.Summary();
        return ExitCode::NoDevice;
    }
    if (onChosen) onChosen(chosen);
    for (const PresentDevice& device : chosen) {
        if (interrupted()) {
            output_.NameSlot(device.name, device.slot);
            output_.NotStartedInterrupted(device.name);
            continue;
        }
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
        if (session_.Wanted(device)) startOne(device, present, start);
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
        if (interrupted()) break;
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
        if (interrupted()) break;

        if (events != nullptr) {
            for (const DeviceEvent& e : events->ReadEvents()) {
                const std::string& name = e.volume.name;
                std::erase_if(pending, [&](const Pending& p) { return p.volume.name == name; });
                if (e.kind == DeviceEvent::Kind::Removal) {
                    if (FindPresentDevice(present, name) != nullptr) output_.DeviceRemoved(name);
                    std::erase_if(present, [&](const PresentDevice& d) { return d.name == name; });
                    continue;
                }
                // An arrival for a device still listed (no removal in between) is the same device.
                const bool listed = FindPresentDevice(present, name) != nullptr;
                // Whether it is wanted is known once it is probed (its port and serial).
                if (!listed) pending.push_back({e.volume, Clock::now() + delay});
            }
        }
        const auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->due > now) {
                ++it;
                continue;
            }
            PresentDevice device;
            if (session_.Probe(it->volume, device) && session_.Wanted(device)) {
                present.push_back(device);
                output_.NameSlot(device.name, device.slot);
                output_.DeviceArrived(device.name);
                if (!limitReached()) startOne(device, present, start);
            }
            it = pending.erase(it);
        }
    }
    waitForRunningJobs();
    return finish();
}

}  // namespace brev::cli
