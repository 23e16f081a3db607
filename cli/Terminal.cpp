#include "cli/Terminal.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>

namespace brev::cli {

#ifdef _WIN32

namespace {

// The console behind `f`, or null when `f` goes to a file or pipe.
HANDLE ConsoleOf(std::FILE* f) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

bool StdoutIsTerminal() {
    // Cursor movement needs the console's escape sequences (Windows 10 and later).
    const HANDLE console = ConsoleOf(stdout);
    DWORD mode = 0;
    return console != nullptr && GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t TerminalWidth(std::FILE* f) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE console = ConsoleOf(f);
    if (console != nullptr && GetConsoleScreenBufferInfo(console, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 20) return static_cast<std::size_t>(columns);
    }
    return 80;
}

#else

bool StdoutIsTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) != 0 && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

std::size_t TerminalWidth(std::FILE* f) {
    winsize ws{};
    if (::ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

#endif

}  // namespace brev::cli
