#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "app/ProgramFolder.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolderTest, ChoosesWhereSettingsAndDeviceProgramsLive) {
    test::TempDir tmp;
    const fs::path portable = tmp.path() / "portable";
    const fs::path installed = tmp.path() / "bin";
    fs::create_directories(portable / "brevload_files");
    fs::create_directories(installed);
    const fs::path data = "/opt/brev/share/brevload/brevload_files";

    struct Case {
        const char* what;
        ProgramFolderInputs in;
        fs::path settingsFile;
        fs::path deviceProgramsDir;
        fs::path recordsFile;
    };
    auto inputs = [&](fs::path exeDir, bool windows = false) {
        ProgramFolderInputs in;
        in.windows = windows;
        in.executableDir = std::move(exeDir);
        in.home = "/home/op";
        in.installDataDir = data;
        return in;
    };
    const fs::path userData = "/home/op/.local/share/brevload/records.sqlite";
    Case cases[] = {
        {"portable tree", inputs(portable), portable / "confile.inf", portable / "brevload_files",
         portable / "records.sqlite"},
        {"installed: ~/.config", inputs(installed), "/home/op/.config/brevload/confile.inf", data, userData},
        {"installed: XDG_CONFIG_HOME, XDG_DATA_HOME", inputs(installed),
         tmp / "xdg" / "brevload" / "confile.inf", data, tmp / "xdgdata" / "brevload" / "records.sqlite"},
        {"relative XDG_CONFIG_HOME and XDG_DATA_HOME are ignored", inputs(installed),
         "/home/op/.config/brevload/confile.inf", data, userData},
        {"BREVLOAD_HOME wins", inputs(portable), "/srv/bl/confile.inf", "/srv/bl/brevload_files",
         "/srv/bl/records.sqlite"},
        {"windows: always beside the executable", inputs(installed, true), installed / "confile.inf",
         installed / "brevload_files", installed / "records.sqlite"},
    };
    cases[2].in.xdgConfigHome = (tmp / "xdg").string();  // absolute on Windows too
    cases[2].in.xdgDataHome = (tmp / "xdgdata").string();
    cases[3].in.xdgConfigHome = "rel/dir";
    cases[3].in.xdgDataHome = "rel/data";
    cases[4].in.brevloadHome = "/srv/bl";
    cases[4].in.xdgDataHome = "/xdgdata";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramFolders f = ResolveProgramFolders(c.in);
        EXPECT_EQ(f.settingsFile, c.settingsFile);
        EXPECT_EQ(f.programFolder, c.settingsFile.parent_path());
        EXPECT_EQ(f.deviceProgramsDir, c.deviceProgramsDir);
        EXPECT_EQ(f.modeFile, c.deviceProgramsDir / "sys.inf");
        EXPECT_EQ(f.recordsFile, c.recordsFile);
    }
}

TEST(ProgramFolderTest, InstallDataFolderIsFoundBesideTheExecutablesFolder) {
    EXPECT_EQ(InstallDataDirFor("/opt/x/bin"), fs::path("/opt/x/share/brevload/brevload_files"));
}

TEST(ProgramFolderTest, EnvironmentOverrideReachesTheProcess) {
    test::TempDir tmp;
#ifdef _WIN32
    ASSERT_EQ(_wputenv_s(L"BREVLOAD_HOME", tmp.path().c_str()), 0);
    ProgramFolders f = CurrentProgramFolders();
    _wputenv_s(L"BREVLOAD_HOME", L"");
#else
    ASSERT_EQ(setenv("BREVLOAD_HOME", tmp.path().c_str(), 1), 0);
    ProgramFolders f = CurrentProgramFolders();
    unsetenv("BREVLOAD_HOME");
#endif
    EXPECT_EQ(f.settingsFile, tmp.path() / "confile.inf");
    EXPECT_EQ(f.modeFile, tmp.path() / "brevload_files" / "sys.inf");
    EXPECT_TRUE(ExecutablePath().filename().string().starts_with("app_tests"));
}

}  // namespace
}  // namespace brev
