// The program's switches: -a (console mode), -cr (read button in every row), -df, and a
// file argument (any other argument starting with "-", less its first two characters); and the
// records' options, which the command-line tool takes too.
#pragma once

#include <string>
#include <vector>

namespace brev {

struct CommandLine {
    bool consoleMode = false;      // -a
    bool showReadButton = false;   // -cr
    bool manualBusParams = false;  // -df (recognised; changes nothing else)
    std::string filePath;          // the last file argument; empty when none
    bool hasFilePath = false;      // a file argument was given (its path may still be empty)
    // Arguments starting with "--": the program's own long options, in order, never file arguments.
    std::vector<std::string> longOptions;
    // --records FILE, --no-records, --station NAME, --records-url URL ("--name=value" too). A
    // value is the next argument whatever it starts with; empty when not given.
    std::string recordsFile;
    bool noRecords = false;
    std::string stationName;
    std::string recordsUrl;
    // The first option given without its value ("--station: a value is needed"); empty when none.
    std::string error;
};

struct StationOptions;

// Examines every argument, argument 0 included; comparisons are exact and case-sensitive.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The records' options as the station takes them, as the command-line tool passes its own.
void ApplyRecordOptions(const CommandLine& commandLine, StationOptions& options);

// The process's arguments as UTF-8. On Windows they come from GetCommandLineW and
// CommandLineToArgvW (argc and argv are ignored there); elsewhere from argv.
std::vector<std::string> ProcessArguments(int argc, char** argv);

}  // namespace brev
