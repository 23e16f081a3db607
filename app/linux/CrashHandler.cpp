// Fatal signals leave a text report with a backtrace in "mindmp.dmp" in the current
// directory; the signal is then re-raised with its default action, so the process ends
// (and dumps core) exactly as it would have without the handler.
//
// Everything on the signal path is async-signal-safe: open/write/close, backtrace with
// libgcc already loaded, and hand-made number formatting.
#include "app/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace brev {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxFrames = 64;

// Own stack for the handler, so a stack overflow can still be reported.
alignas(16) char g_altStack[64 * 1024];

void WriteAll(int fd, const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, s, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        s += w;
        n -= static_cast<size_t>(w);
    }
}

void WriteText(int fd, const char* s) { WriteAll(fd, s, strlen(s)); }

void WriteNumber(int fd, uintptr_t value, unsigned base) {
    char digits[2 * sizeof(uintptr_t) + 1];
    size_t pos = sizeof(digits);
    do {
        unsigned d = static_cast<unsigned>(value % base);
        digits[--pos] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
        value /= base;
    } while (value != 0 && pos > 0);
    WriteAll(fd, digits + pos, sizeof(digits) - pos);
}

void WriteSigned(int fd, long value) {
    if (value < 0) {
        WriteAll(fd, "-", 1);
        WriteNumber(fd, static_cast<uintptr_t>(-(value + 1)) + 1, 10);
    } else {
        WriteNumber(fd, static_cast<uintptr_t>(value), 10);
    }
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "?";
    }
}

void OnFatalSignal(int sig, siginfo_t* info, void* /*context*/) {
    int savedErrno = errno;
    int fd = open(kCrashDumpFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        WriteText(fd, "brevload crash report\nsignal: ");
        WriteNumber(fd, static_cast<uintptr_t>(sig), 10);
        WriteText(fd, " (");
        WriteText(fd, SignalName(sig));
        WriteText(fd, ")\ncode: ");
        WriteSigned(fd, info ? info->si_code : 0);
        WriteText(fd, "\naddress: 0x");
        WriteNumber(fd, reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr), 16);
        WriteText(fd, "\npid: ");
        WriteNumber(fd, static_cast<uintptr_t>(getpid()), 10);
        WriteText(fd, "\nbacktrace:\n");
        void* frames[kMaxFrames];
        int count = backtrace(frames, kMaxFrames);
        backtrace_symbols_fd(frames, count, fd);
        close(fd);
    }

    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    errno = savedErrno;
    // Pending until the handler returns (the signal is blocked meanwhile); a hardware fault
    // would also recur when the faulting instruction runs again.
    raise(sig);
}

}  // namespace

void InstallCrashHandler() {
    // backtrace() loads libgcc on first use, which is not safe inside a handler.
    void* warmUp[1];
    backtrace(warmUp, 1);

    stack_t altStack{};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof(g_altStack);
    altStack.ss_flags = 0;
    sigaltstack(&altStack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals) sigaction(sig, &action, nullptr);
}

}  // namespace brev
