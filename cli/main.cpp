#include "cli/Cli.h"

int main(int argc, char** argv) { return brev::cli::Main(argc, argv); }
