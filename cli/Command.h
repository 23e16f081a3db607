// One subcommand: its options, its help, what it needs, and what it does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace CLI {
class App;
}

namespace brev::cli {

class Session;

struct CommandContext {
    const CommonOptions& options;
    COutput& output;
    Session* session = nullptr;  // set for commands that need devices
};

class ICommand {
public:
    virtual ~ICommand() = default;
    virtual const char* Name() const = 0;
    virtual const char* Description() const = 0;
    // True when the command works on devices (real or simulated): it then gets a Session.
    virtual bool NeedsDevices() const = 0;
    virtual void AddOptions(CLI::App& sub) = 0;
    virtual ExitCode Execute(CommandContext& ctx) = 0;
    // The files the command reads and writes, checked before any device is touched.
    virtual std::vector<std::string> InputFiles() const { return {}; }
    virtual std::vector<std::string> OutputFiles() const { return {}; }
};

// The table of subcommands, in the order `--help` lists them.
std::vector<std::unique_ptr<ICommand>> MakeCommands();

// Each subcommand's factory (one file each).
std::unique_ptr<ICommand> MakeListCommand();
std::unique_ptr<ICommand> MakeCheckCommand();
std::unique_ptr<ICommand> MakeDownloadCommand();
std::unique_ptr<ICommand> MakeEraseCommand();
std::unique_ptr<ICommand> MakeRandomTestCommand();
std::unique_ptr<ICommand> MakeReadCommand();
std::unique_ptr<ICommand> MakeVerifyCommand();
std::unique_ptr<ICommand> MakeWatchCommand();
std::unique_ptr<ICommand> MakeMakeImageCommand();
std::unique_ptr<ICommand> MakeDoctorCommand();
std::unique_ptr<ICommand> MakeHistoryCommand();
std::unique_ptr<ICommand> MakeRecordsCommand();

}  // namespace brev::cli
