// Drives app/'s Windows calls for windows-app-test.sh:
//   app_probe console   attaches to the parent's console and prints the console-mode banner
//   app_probe crash     installs the crash handler and writes through a bad pointer
//   app_probe throw     installs the crash handler and lets a C++ exception go uncaught
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <stdexcept>

#include "app/Console.h"
#include "app/CrashHandler.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (std::strcmp(commandLine, "console") == 0) {
        std::ostream* out = brev::OpenParentConsole();
        if (out == nullptr) return 3;
        *out << brev::kConsoleBanner << std::flush;
        return out->good() ? 0 : 4;
    }
    if (std::strcmp(commandLine, "crash") == 0) {
        brev::InstallCrashHandler();
        // Through a volatile so the compiler cannot see the address.
        volatile uintptr_t address = 0x10;
        *reinterpret_cast<volatile int*>(address) = 1;
        return 0;  // not reached when the fault is raised
    }
    if (std::strcmp(commandLine, "throw") == 0) {
        brev::InstallCrashHandler();
        throw std::runtime_error("uncaught");
    }
    return 2;
}
