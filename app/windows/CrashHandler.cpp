// Unhandled exceptions leave a minidump in the current directory; Windows then ends the
// process as it would have anyway.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include "app/CrashHandler.h"

#ifdef _MSC_VER
#pragma comment(lib, "dbghelp.lib")
#endif

namespace brev {
namespace {

LONG WINAPI WriteCrashDump(EXCEPTION_POINTERS* exceptionPointers) {
    HANDLE file = CreateFileW(L"mindmp.dmp", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION info{};
        info.ThreadId = GetCurrentThreadId();
        info.ExceptionPointers = exceptionPointers;
        info.ClientPointers = TRUE;
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr,
                          nullptr);
        CloseHandle(file);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallCrashHandler() { SetUnhandledExceptionFilter(WriteCrashDump); }

}  // namespace brev
