#include "app/ProgramFolder.h"

#include <cstdlib>
#include <system_error>

#include "app/settings/SettingsFile.h"

namespace brev {
namespace {

constexpr const char* kDeviceProgramsFolder = "brevload_files";
constexpr const char* kModeFileName = "sys.inf";
constexpr const char* kRecordsFileName = "records.sqlite";

std::optional<std::string> Env(const char* name) {
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

bool IsDirectory(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

}  // namespace

ProgramFolders FoldersUnder(const std::filesystem::path& root) {
    ProgramFolders f;
    f.programFolder = root;
    f.settingsFile = root / kSettingsFileName;
    f.deviceProgramsDir = root / kDeviceProgramsFolder;
    f.modeFile = f.deviceProgramsDir / kModeFileName;
    f.recordsFile = root / kRecordsFileName;
    return f;
}

std::filesystem::path InstallDataDirFor(const std::filesystem::path& executableDir) {
    return executableDir.parent_path() / "share" / "brevload" / kDeviceProgramsFolder;
}

ProgramFolders ResolveProgramFolders(const ProgramFolderInputs& in) {
    if (in.brevloadHome) return FoldersUnder(std::filesystem::path(*in.brevloadHome));
    if (in.windows || IsDirectory(in.executableDir / kDeviceProgramsFolder))
        return FoldersUnder(in.executableDir);

    // An installed copy: the settings are the user's, the device programs the install's.
    std::filesystem::path config;
    if (in.xdgConfigHome && std::filesystem::path(*in.xdgConfigHome).is_absolute()) {
        config = std::filesystem::path(*in.xdgConfigHome);
    } else if (in.home) {
        config = std::filesystem::path(*in.home) / ".config";
    } else {
        std::error_code ec;
        config = std::filesystem::current_path(ec);
    }
    ProgramFolders f;
    f.programFolder = config / "brevload";
    f.settingsFile = f.programFolder / kSettingsFileName;
    f.deviceProgramsDir = in.installDataDir;
    f.modeFile = f.deviceProgramsDir / kModeFileName;
    // Records are data, not settings.
    if (in.xdgDataHome && std::filesystem::path(*in.xdgDataHome).is_absolute()) {
        f.recordsFile = std::filesystem::path(*in.xdgDataHome) / "brevload" / kRecordsFileName;
    } else if (in.home) {
        f.recordsFile = std::filesystem::path(*in.home) / ".local" / "share" / "brevload" / kRecordsFileName;
    } else {
        f.recordsFile = f.programFolder / kRecordsFileName;
    }
    return f;
}

ProgramFolders CurrentProgramFolders() {
    ProgramFolderInputs in;
#ifdef _WIN32
    in.windows = true;
#endif
    in.executableDir = ExecutablePath().parent_path();
    in.brevloadHome = Env("BREVLOAD_HOME");
    in.xdgConfigHome = Env("XDG_CONFIG_HOME");
    in.xdgDataHome = Env("XDG_DATA_HOME");
    in.home = Env("HOME");
    in.installDataDir = InstallDataDirFor(in.executableDir);
    ProgramFolders f = ResolveProgramFolders(in);
    if (!in.windows && !in.brevloadHome) {
        std::error_code ec;
        std::filesystem::create_directories(f.programFolder, ec);  // the settings are saved here
    }
    return f;
}

}  // namespace brev
