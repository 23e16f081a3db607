#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include "app/ProgramFolder.h"
#include "base/Utf8Path.h"

namespace brev::cli {
namespace {

constexpr const char* kDevices = "Devices";
constexpr const char* kFlash = "Flash options (defaults from confile.inf)";
constexpr const char* kSim = "Simulation";
constexpr const char* kOutput = "Output";
constexpr const char* kRecords = "Records";

void AddBusByte(CLI::App& app, const char* name, std::optional<int>& target, const char* help) {
    app.add_option_function<int>(
           name, [&target](int v) { target = v; }, help)
        ->type_name("0-255")
        ->check(CLI::Range(0, 255).description(""))
        ->group(kFlash);
}

}  // namespace

bool ParsePinList(const std::string& text, std::vector<std::string>& out) {
    std::vector<std::string> pins;
    std::string current;
    for (char c : text) {
        if (c == ',') {
            pins.push_back(current);
            current.clear();
        } else if (c != ' ') {
            current += c;
        }
    }
    pins.push_back(current);
    if (pins.size() != 4) return false;
    for (const auto& p : pins) {
        if (p.empty()) return false;
    }
    out = std::move(pins);
    return true;
}

void AddCommonOptions(CLI::App& app, CommonOptions& o) {
    app.add_option("--device", o.devices,
                   "Work on this device only (repeatable): a name (sdb, sim0), a node (/dev/sdb, /dev/sg2), "
                   "port:PATH, serial:TEXT or slot:LABEL; default: every present device")
        ->type_name("DEVICE")
        ->group(kDevices);
    app.add_option("--slots", o.slotsFile,
                   "Slots file ([slots] PORTPATH=LABEL); default: slots.ini beside the settings file")
        ->type_name("FILE")
        ->check(CLI::Validator(CLI::ExistingFile).description(""))
        ->group(kDevices);

    app.add_option("--config", o.configFile, "Settings file to take the defaults from")
        ->type_name("FILE")
        ->check(CLI::Validator(CLI::ExistingFile).description(""))
        ->group(kFlash);
    app.add_flag("--erase-4k", o.erase4k, "Erase and write in 4 KiB units instead of 64 KiB")->group(kFlash);
    app.add_flag_callback(
           "--ex-flash", [&o] { o.exFlash = 1; },
           "Write the external SPI flash (the file is written whole, header included)")
        ->group(kFlash);
    app.add_flag_callback(
           "--no-ex-flash", [&o] { o.exFlash = -1; },
           "Write the internal flash even if the settings say external")
        ->group(kFlash);
    app.add_option("--pins", o.pins, "External flash pins CS,CLK,MOSI,MISO (default PB5,PB6,PB7,PB8)")
        ->type_name("CS,CLK,MOSI,MISO")
        ->check(
            [](const std::string& v) {
                std::vector<std::string> pins;
                return ParsePinList(v, pins) ? std::string()
                                             : std::string("expected four pins, e.g. PB5,PB6,PB7,PB8");
            },
            "")
        ->group(kFlash);
    app.add_flag_callback(
           "--reset-after", [&o] { o.resetAfter = 1; }, "Load and start the reset program after a download")
        ->group(kFlash);
    app.add_flag_callback(
           "--no-reset-after", [&o] { o.resetAfter = -1; }, "No reset program, whatever the settings say")
        ->group(kFlash);
    app.add_flag_callback(
           "--skip-unchanged", [&o] { o.skipUnchanged = 1; },
           "Internal flash: leave blocks the device already holds byte for byte (settings key skipUnchanged)")
        ->group(kFlash);
    app.add_flag_callback(
           "--no-skip-unchanged", [&o] { o.skipUnchanged = -1; },
           "Internal flash: erase and write every block, whatever the settings say")
        ->group(kFlash);
    AddBusByte(app, "--clk-div", o.clkDiv, "Bus clock divider sent with Init (0 stands for 9)");
    AddBusByte(app, "--line-mode", o.lineMode, "Bus line mode byte");
    AddBusByte(app, "--chip-sel-indirect", o.chipSelIndirect, "Bus chip-select (indirect) byte");
    AddBusByte(app, "--chip-sel-direct", o.chipSelDirect, "Bus chip-select (direct) byte");
    AddBusByte(app, "--chip-type", o.chipType, "Bus chip type byte");

    app.add_option("--simulate", o.simulate,
                   "Use N simulated download-mode devices sim0..simN-1 instead of real ones")
        ->type_name("N")
        ->check(CLI::Range(0, 64).description(""))
        ->group(kSim);
    app.add_option("--simulate-pc", o.simulatePc, "Add N simulated PC-mode devices simpc0..simpcN-1")
        ->type_name("N")
        ->check(CLI::Range(0, 64).description(""))
        ->group(kSim);
    app.add_option("--sim-dir", o.simDir,
                   "Load each simulated device's flash from DIR/NAME.flash (external: DIR/NAME.exflash) "
                   "when present, save it there at exit")
        ->type_name("DIR")
        ->group(kSim);
    app.add_option("--sim-profile", o.simProfile, "Simulated timing: zero (instant) or realistic")
        ->type_name("PROFILE")
        ->check(CLI::IsMember({"zero", "realistic"}))
        ->capture_default_str()
        ->group(kSim);
    app.add_option("--sim-time-scale", o.simTimeScale, "Multiply every simulated duration by X")
        ->type_name("X")
        ->check(CLI::Range(0.0, 1000.0).description(""))
        ->capture_default_str()
        ->group(kSim);
    app.add_option(
           "--sim-fault", o.simFaults,
           "Inject a fault (repeatable): DEVICE:fail:SUB[:N] (Nth command with sub-command SUB fails), "
           "DEVICE:crc-swap, DEVICE:flip:N (bit flip in the Nth write), DEVICE:drop:N (off the bus after "
           "N commands), DEVICE:timeout:N (Nth command times out), DEVICE:short:SUB:BYTES (data-in of "
           "sub-command SUB moves only BYTES bytes), DEVICE:refuse:SUB:HOW (the first command with "
           "sub-command SUB is refused: permission, interrupted, busy or scsi-busy), DEVICE:open:HOW:N "
           "(opening the device fails from the Nth time on: permission, busy, missing or failed)")
        ->type_name("DEVICE:KIND[:ARG...]")
        ->group(kSim);
    app.add_option("--sim-max-transfer", o.simMaxTransfer,
                   "Largest data phase one request may carry on a simulated device's path (0: no limit); "
                   "longer ones are refused as the kernel refuses them")
        ->type_name("BYTES")
        ->capture_default_str()
        ->group(kSim);
    app.add_option("--sim-attach-after", o.simAttachAfterMs,
                   "Attach the simulated devices one by one, MS milliseconds apart, instead of at start")
        ->type_name("MS")
        ->check(CLI::Range(0, 3600000).description(""))
        ->group(kSim);

    app.add_option("--records", o.recordsFile,
                   "Keep the records of every job in FILE (SQLite); default: records.sqlite beside the "
                   "settings (simulated devices are recorded only into a file named here)")
        ->type_name("FILE")
        ->group(kRecords);
    app.add_flag("--no-records", o.noRecords, "Keep no record of this run's jobs")->group(kRecords);
    app.add_option("--station", o.station,
                   "The station's name in its records (settings key station; default: the host name)")
        ->type_name("NAME")
        ->group(kRecords);
    app.add_option("--records-url", o.recordsUrl,
                   "Also push every record to this PostgreSQL database (settings key recordsUrl)")
        ->type_name("postgresql://...")
        ->group(kRecords);

    app.add_option("--trace", o.traceFile, "Write every transfer to FILE as 'NAME DIR CDBHEX LEN STATUS'")
        ->type_name("FILE")
        ->group(kOutput);
    app.add_option("--log-file", o.logFile,
                   "Also append every line to FILE, time-stamped and without colours (JSON lines as printed)")
        ->type_name("FILE")
        ->group(kOutput);
    app.add_flag("--json", o.json, "One JSON object per line for every event")->group(kOutput);
    app.add_flag("-q,--quiet", o.quiet, "Print only the summary")->group(kOutput);
    app.add_flag(
           "-v,--verbose", o.verbose,
           "Show each device command and its outcome, and on a failed job's line which step failed and how")
        ->group(kOutput);
}

std::filesystem::path SettingsFileOf(const CommonOptions& options) {
    return options.configFile.empty() ? CurrentProgramFolders().settingsFile
                                      : PathFromUtf8(options.configFile);
}

}  // namespace brev::cli
