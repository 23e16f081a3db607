// Linux halves of the records' host helpers.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "app/Records.h"

namespace brev {

std::string StationHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

bool ProcessAlive(int64_t pid) {
    if (pid <= 0) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int64_t CurrentProcessId() { return static_cast<int64_t>(getpid()); }

}  // namespace brev
