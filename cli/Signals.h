// The self-pipe and the stop signals (SIGINT, SIGTERM, SIGHUP) the tool's main loop waits on.
// Windows has neither: an event object stands in for the pipe and the console's control events
// (Ctrl-C, Ctrl-Break, the console closing) for the signals.
#pragma once

#include <array>
#include <atomic>

#ifdef _WIN32

#include <initializer_list>

namespace brev::cli {

// What a waiter waits on: a pipe's descriptor, or on Windows an event's handle.
using WakeHandle = void*;

class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    WakeHandle readFd() const { return event_; }
    WakeHandle writeFd() const { return event_; }
    static void Poke(WakeHandle writeFd);
    void Drain() const;

private:
    void* event_ = nullptr;
};

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    WakeHandle fd() const { return pipe_.readFd(); }
    bool interrupted() const { return count_.load() > 0; }
    bool interruptedAgain() const { return count_.load() > 1; }
    void Drain() const { pipe_.Drain(); }

    // Runs on the thread the system starts for a control event.
    static void Deliver();

private:
    static std::atomic<StopSignals*> active_;

    Pipe pipe_;
    std::atomic<int> count_{0};
};

// Waits until one of `handles` (null ones left out) is signalled or `timeoutMs` passes.
void WaitForAny(std::initializer_list<WakeHandle> handles, int timeoutMs);

}  // namespace brev::cli

#else

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace brev::cli {

using WakeHandle = int;

// A pipe whose ends neither block nor survive exec; both ends -1 when it could not be made.
class Pipe {
public:
    Pipe() {
        if (::pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
        for (int fd : fds_) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    ~Pipe() {
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int readFd() const { return fds_[0]; }
    int writeFd() const { return fds_[1]; }
    // Async-signal-safe.
    static void Poke(int writeFd) {
        if (writeFd < 0) return;
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(writeFd, &byte, 1);
    }
    void Drain() const {
        char buf[64];
        while (fds_[0] >= 0 && ::read(fds_[0], buf, sizeof buf) > 0) {
        }
    }

private:
    int fds_[2] = {-1, -1};
};

// SIGINT, SIGTERM and SIGHUP while a runner lives: the handler counts the signal and pokes a
// self-pipe so poll() wakes. The first stops new work; the main loop acts on a second one.
class StopSignals {
public:
    StopSignals() {
        active_ = this;  // before the handler can run
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &sa, &old_[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &old_[i], nullptr);
        active_ = nullptr;  // after the handler is gone
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return pipe_.readFd(); }
    bool interrupted() const { return count_.load() > 0; }
    bool interruptedAgain() const { return count_.load() > 1; }
    void Drain() const { pipe_.Drain(); }

    // Runs in the signal handler: lock-free atomics and write() only.
    static void Deliver() {
        StopSignals* self = active_.load();
        if (self == nullptr) return;
        self->count_.fetch_add(1);
        Pipe::Poke(self->pipe_.writeFd());
    }

private:
    static void OnStopSignal(int) { Deliver(); }

    // A signal handler receives only the signal number, so the one installed instance is reached
    // through this single pointer; nothing else in the tool is global.
    static std::atomic<StopSignals*> active_;
    static_assert(std::atomic<StopSignals*>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
                  "the signal handler may only touch lock-free atomics");
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

    Pipe pipe_;
    std::atomic<int> count_{0};
    std::array<struct sigaction, kSignals.size()> old_{};
};

}  // namespace brev::cli

#endif
