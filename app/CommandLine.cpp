#include "app/CommandLine.h"

namespace brev {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (const std::string& arg : arguments) {
        if (arg == "-df") {
            result.manualBusParams = true;
        } else if (arg == "-cr") {
            result.showReadButton = true;
        } else if (arg == "-a") {
            result.consoleMode = true;
        } else if (arg.starts_with("--")) {
            result.longOptions.push_back(arg);
        } else if (arg.starts_with("-")) {
            // "-f<path>" is the documented form; any other letter is dropped the same way.
            result.filePath = arg.size() > 2 ? arg.substr(2) : std::string();
            result.hasFilePath = true;
        }
    }
    return result;
}

}  // namespace brev
