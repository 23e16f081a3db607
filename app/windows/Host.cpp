// Windows halves of the records' host helpers.
#include <windows.h>

#include "app/Records.h"

namespace brev {

std::string StationHostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return {};
    return std::string(name, size);
}

bool ProcessAlive(int64_t pid) {
    if (pid <= 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

int64_t CurrentProcessId() { return static_cast<int64_t>(GetCurrentProcessId()); }

}  // namespace brev
