#include "cli/Command.h"

namespace brev::cli {

std::vector<std::unique_ptr<ICommand>> MakeCommands() {
    std::vector<std::unique_ptr<ICommand>> commands;
    commands.push_back(MakeListCommand());
    commands.push_back(MakeCheckCommand());
    commands.push_back(MakeDownloadCommand());
    commands.push_back(MakeEraseCommand());
    commands.push_back(MakeRandomTestCommand());
    commands.push_back(MakeReadCommand());
    commands.push_back(MakeVerifyCommand());
    commands.push_back(MakeWatchCommand());
    commands.push_back(MakeMakeImageCommand());
#ifdef BREVLOAD_HAS_DOCTOR
    commands.push_back(MakeDoctorCommand());
#endif
    commands.push_back(MakeHistoryCommand());
    commands.push_back(MakeRecordsCommand());
    return commands;
}

}  // namespace brev::cli
