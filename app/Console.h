// Console mode: the console of the process that started the program.
#pragma once

#include <ostream>

namespace brev {

inline constexpr const char* kConsoleBanner = "Brevantis brevload begin\n";

// Attaches to the parent process's console and points standard output at it. Returns the
// stream to print on when both succeed, null otherwise. On Linux standard output already is
// the console.
std::ostream* OpenParentConsole();

}  // namespace brev
