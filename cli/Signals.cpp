#include "cli/Signals.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>
#endif

namespace brev::cli {

std::atomic<StopSignals*> StopSignals::active_{nullptr};

#ifdef _WIN32

namespace {

BOOL WINAPI OnControlEvent(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            StopSignals::Deliver();
            return TRUE;
        case CTRL_CLOSE_EVENT:
            // The system ends the process as soon as this returns (or after its grace period):
            // hold on so that running jobs get that time to finish.
            StopSignals::Deliver();
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// Manual reset: a poke stays seen until the waiter drains it, as bytes in a pipe would.
Pipe::Pipe() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Pipe::~Pipe() {
    if (event_ != nullptr) CloseHandle(event_);
}

void Pipe::Poke(WakeHandle writeFd) {
    if (writeFd != nullptr) SetEvent(writeFd);
}

void Pipe::Drain() const {
    if (event_ != nullptr) ResetEvent(event_);
}

StopSignals::StopSignals() {
    active_ = this;  // before the handler can run
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(OnControlEvent, FALSE);
    active_ = nullptr;
}

void StopSignals::Deliver() {
    StopSignals* self = active_.load();
    if (self == nullptr) return;
    self->count_.fetch_add(1);
    Pipe::Poke(self->pipe_.writeFd());
}

void WaitForAny(std::initializer_list<WakeHandle> handles, int timeoutMs) {
    std::vector<HANDLE> list;
    for (WakeHandle h : handles) {
        if (h != nullptr) list.push_back(h);
    }
    if (list.empty()) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return;
    }
    WaitForMultipleObjects(static_cast<DWORD>(list.size()), list.data(), FALSE,
                           static_cast<DWORD>(timeoutMs));
}

#endif

}  // namespace brev::cli
