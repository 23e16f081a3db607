// Where the program keeps its settings and finds its device programs and mode file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brev {

struct ProgramFolders {
    std::filesystem::path programFolder;      // read.bin is written here
    std::filesystem::path settingsFile;       // confile.inf
    std::filesystem::path deviceProgramsDir;  // brevload_files: spi.bin, reset.bin, sys.inf
    std::filesystem::path modeFile;           // brevload_files/sys.inf
    std::filesystem::path recordsFile;  // records.sqlite: beside the settings, or the user's data folder
};

// Everything the choice depends on, gathered by CurrentProgramFolders().
struct ProgramFolderInputs {
    bool windows = false;
    std::filesystem::path executableDir;
    std::optional<std::string> brevloadHome;   // BREVLOAD_HOME
    std::optional<std::string> xdgConfigHome;  // XDG_CONFIG_HOME
    std::optional<std::string> xdgDataHome;    // XDG_DATA_HOME
    std::optional<std::string> home;           // HOME
    std::filesystem::path installDataDir;      // <prefix>/share/brevload/brevload_files
};

// The install's data folder beside the folder of the executable (<prefix>/bin), so an install
// to any prefix, or a relocated one, finds its own.
std::filesystem::path InstallDataDirFor(const std::filesystem::path& executableDir);

// Folders laid out under one root: settings beside brevload_files.
ProgramFolders FoldersUnder(const std::filesystem::path& root);

// BREVLOAD_HOME when set; on Windows the executable's folder; on Linux the executable's
// folder when it holds brevload_files, else the user's configuration folder for the settings
// and the install's data folder for the device programs.
ProgramFolders ResolveProgramFolders(const ProgramFolderInputs& in);

// The running executable's full path (empty when it cannot be found).
std::filesystem::path ExecutablePath();
// A new folder under the system's temporary folder, named PREFIX and a unique suffix, that only
// this user may enter; empty with a reason when it cannot be made.
std::filesystem::path MakeTemporaryFolder(const std::string& prefix, std::string& error);

// ResolveProgramFolders over this process's executable and environment.
ProgramFolders CurrentProgramFolders();

}  // namespace brev
