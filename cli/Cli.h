// The command-line tool's entry: parses the arguments, runs the chosen subcommand.
#pragma once

namespace brev::cli {

// Returns the process exit status (see ExitCode).
int Main(int argc, char** argv);

}  // namespace brev::cli
