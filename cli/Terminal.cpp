#include "cli/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace brev::cli {

bool StdoutIsTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) != 0 && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

std::size_t TerminalWidth(std::FILE* f) {
    winsize ws{};
    if (::ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

}  // namespace brev::cli
