// What the tool asks of the terminal it prints to: a POSIX terminal, or a Windows console.
#pragma once

#include <cstddef>
#include <cstdio>

namespace brev::cli {

// Standard output is a terminal that understands cursor movement (TERM is not "dumb").
bool StdoutIsTerminal();
// Columns of the terminal behind `f`; 80 when unknown or implausibly narrow.
std::size_t TerminalWidth(std::FILE* f);

}  // namespace brev::cli
