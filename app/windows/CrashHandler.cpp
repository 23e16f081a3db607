// Unhandled exceptions leave a minidump in the current directory; Windows then ends the
// process as it would have anyway. abort() (std::terminate too: an uncaught C++ exception)
// raises no exception, only SIGABRT: its dump is written from the signal handler.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include <csignal>

#include "app/CrashHandler.h"

#ifdef _MSC_VER
#pragma comment(lib, "dbghelp.lib")
#endif

namespace brev {
namespace {

void WriteDump(EXCEPTION_POINTERS* exceptionPointers) {
    HANDLE file = CreateFileW(L"mindmp.dmp", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION info{};
        info.ThreadId = GetCurrentThreadId();
        info.ExceptionPointers = exceptionPointers;
        info.ClientPointers = FALSE;  // the pointers are this process's own
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                          exceptionPointers != nullptr ? &info : nullptr, nullptr, nullptr);
        CloseHandle(file);
    }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exceptionPointers) {
    WriteDump(exceptionPointers);
    return EXCEPTION_CONTINUE_SEARCH;
}

// The runtime has reset SIGABRT to its default by now: abort() goes on to end the process.
void OnAbort(int) { WriteDump(nullptr); }

}  // namespace

void InstallCrashHandler() {
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::signal(SIGABRT, OnAbort);
}

}  // namespace brev
