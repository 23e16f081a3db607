#include "app/CommandLine.h"

#include "app/Station.h"
#include "base/Utf8Path.h"

namespace brev {
namespace {

// The field of a records option that takes a value; null for any other argument.
std::string* ValueOption(CommandLine& line, const std::string& name) {
    if (name == "--records") return &line.recordsFile;
    if (name == "--station") return &line.stationName;
    if (name == "--records-url") return &line.recordsUrl;
    return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg.starts_with("--")) {
            const size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (name == "--no-records" && eq == std::string::npos) result.noRecords = true;
            if (std::string* field = ValueOption(result, name)) {
                if (eq != std::string::npos) {
                    *field = arg.substr(eq + 1);
                } else if (i + 1 < arguments.size()) {
                    // Taken whole, so "-x..." here names a station or a file, not a switch.
                    *field = arguments[++i];
                } else if (result.error.empty()) {
                    result.error = name + ": a value is needed";
                }
            }
            result.longOptions.push_back(arg);
        } else if (arg == "-df") {
            result.manualBusParams = true;
        } else if (arg == "-cr") {
            result.showReadButton = true;
        } else if (arg == "-a") {
            result.consoleMode = true;
        } else if (arg.starts_with("-")) {
            // "-f<path>" is the documented form; any other letter is dropped the same way.
            result.filePath = arg.size() > 2 ? arg.substr(2) : std::string();
            result.hasFilePath = true;
        }
    }
    return result;
}

void ApplyRecordOptions(const CommandLine& commandLine, StationOptions& options) {
    options.recordsFile = PathFromUtf8(commandLine.recordsFile);
    options.noRecords = commandLine.noRecords;
    options.stationName = commandLine.stationName;
    options.recordsUrl = commandLine.recordsUrl;
}

}  // namespace brev
