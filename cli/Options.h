// The options every device command shares: device choice, the window's flash options,
// the simulator, output. Defined once on the top-level command so `--help` lists them all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace brev::cli {

struct CommonOptions {
    // Device choice.
    // --device, repeatable; empty: every present device. Each is a name, a node, "port:PATH",
    // "serial:TEXT" or "slot:LABEL" (MatchDevice).
    std::vector<std::string> devices;
    std::string slotsFile;  // --slots; empty: slots.ini beside the settings file, when there is one

    // Flash options; unset ones come from the settings file.
    std::string configFile;  // --config; empty: the program folder's confile.inf
    bool erase4k = false;    // --erase-4k
    int exFlash = 0;         // --ex-flash 1, --no-ex-flash -1, unset 0
    int resetAfter = 0;      // --reset-after 1, --no-reset-after -1, unset 0
    int skipUnchanged = 0;   // --skip-unchanged 1, --no-skip-unchanged -1, unset 0
    std::string pins;        // --pins CS,CLK,MOSI,MISO
    std::optional<int> clkDiv, lineMode, chipSelIndirect, chipSelDirect, chipType;

    // Simulation.
    int simulate = 0;    // download-mode devices sim0..
    int simulatePc = 0;  // PC-mode devices simpc0..
    std::string simDir;
    std::string simProfile = "zero";
    double simTimeScale = 1.0;
    std::vector<std::string> simFaults;
    int simAttachAfterMs = -1;             // -1: attached at start
    uint32_t simMaxTransfer = 120 * 1024;  // bytes per request on a simulated device's path

    // Records.
    std::string recordsFile;  // --records; empty: records.sqlite where the settings live
    bool noRecords = false;   // --no-records
    std::string station;      // --station; empty: the settings key, else the host name
    std::string recordsUrl;   // --records-url; empty: the settings key recordsUrl

    // Output.
    std::string traceFile;
    std::string logFile;  // --log-file: every line also goes there, time-stamped
    bool json = false;
    bool quiet = false;
    bool verbose = false;  // -v: a failed job's line says what failed

    bool simulated() const { return simulate > 0 || simulatePc > 0; }
};

void AddCommonOptions(CLI::App& app, CommonOptions& options);

// "PB5,PB6,PB7,PB8" -> four texts; false when there are not exactly four non-empty ones.
bool ParsePinList(const std::string& text, std::vector<std::string>& out);

// --config, else the program folder's settings file.
std::filesystem::path SettingsFileOf(const CommonOptions& options);

}  // namespace brev::cli
