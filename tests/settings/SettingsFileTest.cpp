#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#ifdef _WIN32
#include "base/windows/WideText.h"
#else
#include <unistd.h>
#endif

#include "app/settings/SettingsFile.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

namespace fs = std::filesystem;

// The text of a saved settings file. Windows saves a new file through the profile functions,
// in UTF-16LE with CRLF line ends: the same lines in the same order.
std::string SavedText(const fs::path& file) {
    std::string bytes = test::ReadText(file);
#ifdef _WIN32
    if (bytes.starts_with("\xFF\xFE")) {
        std::wstring wide;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide.push_back(static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) |
                                                static_cast<uint8_t>(bytes[i + 1]) << 8));
        bytes = win::Utf8FromWide(wide);
        std::erase(bytes, '\r');
    }
#endif
    return bytes;
}

TEST(SettingsFileTest, MissingFileGivesDefaultsAndSaveWritesAllThirteenKeys) {
    test::TempDir dir;
    const fs::path file = dir / kSettingsFileName;
    SharedSettings shared;
    shared.busChipType = 9;
    shared.setDownloadFilePath("stale");
    WindowSettings window;
    window.exFlash = true;
    LoadSettings(file, shared, window);
    EXPECT_EQ(shared.autoDownloadFlag, 0);
    EXPECT_EQ(shared.resetAfterDownloadFlag, 0);
    EXPECT_EQ(shared.busChipType, 0);
    EXPECT_EQ(shared.skipUnchanged, 0);
    EXPECT_EQ(shared.downloadFilePath(), "");
    EXPECT_FALSE(window.exFlash);
    EXPECT_EQ(window.cs + window.clk + window.si + window.so, "PB5PB6PB7PB8");
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(SaveSettings(file, shared, window));
    EXPECT_EQ(SavedText(file),
              "[setting]\n"
              "autoDownload=0\n"
              "resetSystemAfterDownload=0\n"
              "downloadFile=\n"
              "clkDiv=0\n"
              "lineMode=0\n"
              "chipSelIndirect=0\n"
              "chipSelDirect=0\n"
              "chipType=0\n"
              "exFlash=0\n"
              "cs=PB5\n"
              "clk=PB6\n"
              "si=PB7\n"
              "so=PB8\n");
}

TEST(SettingsFileTest, StoredValuesLoadByTheirRulesAndSaveBackNormalised) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    test::WriteText(file,
                    "[SETTING]\r\n"
                    "autoDownload=1\r\n"
                    "resetSystemAfterDownload=1\r\n"
                    "clkDiv=300\r\n"
                    "LINEMODE=-1\r\n"
                    "chipSelIndirect=2 \r\n"
                    "chipSelDirect=abc\r\n"
                    "chipType=257\r\n"
                    "exFlash=2\r\n"
                    "skipUnchanged=2\r\n"
                    "cs=PA1\r\n");
    SharedSettings shared;
    WindowSettings window;
    LoadSettings(file, shared, window);
    EXPECT_EQ(shared.autoDownloadFlag, 1);
    EXPECT_EQ(shared.resetAfterDownloadFlag, 1);
    EXPECT_EQ(shared.busClkDiv, 44);
    EXPECT_EQ(shared.busLineMode, 255);
    EXPECT_EQ(shared.busChipSelIndirect, 2);
    EXPECT_EQ(shared.busChipSelDirect, 0);
    EXPECT_EQ(shared.busChipType, 1);
    EXPECT_EQ(shared.skipUnchanged, 1);
    EXPECT_TRUE(window.exFlash);
    EXPECT_EQ(window.cs, "PA1");
    EXPECT_EQ(window.clk, "PB6");

    ASSERT_TRUE(SaveSettings(file, shared, window));
    EXPECT_EQ(test::ReadText(file),
              "[SETTING]\r\n"
              "autoDownload=1\r\n"
              "resetSystemAfterDownload=1\r\n"
              "clkDiv=44\r\n"
              "LINEMODE=255\r\n"
              "chipSelIndirect=2\r\n"
              "chipSelDirect=0\r\n"
              "chipType=1\r\n"
              "exFlash=1\r\n"
              "skipUnchanged=2\r\n"
              "cs=PA1\r\n"
              "downloadFile=\r\n"
              "clk=PB6\r\n"
              "si=PB7\r\n"
              "so=PB8\r\n");
}

TEST(SettingsFileTest, SaveKeepsEverythingElseByteForByte) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    const std::string before =
        "\xEF\xBB\xBF; written by hand\n"
        "[other]\n"
        "chipType=77\n"
        "\n"
        "[setting]\n"
        "futureKey = kept  \n"
        "chipType=3\n"
        "# a note\n"
        "\n"
        "[tail]\n"
        "x=y";
    test::WriteText(file, before);
    SharedSettings shared;
    WindowSettings window;
    LoadSettings(file, shared, window);
    EXPECT_EQ(shared.busChipType, 3);
    shared.busChipType = 4;
    ASSERT_TRUE(SaveSettings(file, shared, window));
    EXPECT_EQ(test::ReadText(file),
              "\xEF\xBB\xBF; written by hand\n"
              "[other]\n"
              "chipType=77\n"
              "\n"
              "[setting]\n"
              "futureKey = kept  \n"
              "chipType=4\n"
              "# a note\n"
              "autoDownload=0\n"
              "resetSystemAfterDownload=0\n"
              "downloadFile=\n"
              "clkDiv=0\n"
              "lineMode=0\n"
              "chipSelIndirect=0\n"
              "chipSelDirect=0\n"
              "exFlash=0\n"
              "cs=PB5\n"
              "clk=PB6\n"
              "si=PB7\n"
              "so=PB8\n"
              "\n"
              "[tail]\n"
              "x=y");
}

TEST(SettingsFileTest, InterruptedSaveLeavesTheOldFile) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    const std::string before = "[setting]\r\nchipType=5\r\nunknown=1\r\n";
    test::WriteText(file, before);

    IniSettingsStore store(
        file, [](const fs::path&, const fs::path&) { return std::make_error_code(std::errc::io_error); });
    SharedSettings shared;
    LoadSharedSettings(store, shared);
    shared.busChipType = 6;
    ASSERT_TRUE(StoreSharedSettings(store, shared));
    ASSERT_TRUE(StoreWindowSettings(store, WindowSettings{}));
    EXPECT_FALSE(store.Commit());
    EXPECT_EQ(test::ReadText(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

TEST(SettingsFileTest, PathsRoundTripByteExact) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    // A Chinese path, and one of exactly 259 characters (the longest kept).
    const std::vector<std::string> paths = {"D:\\固件\\测试 版本\\app_v1.0.up",
                                            "C:\\" + std::string(250, 'x') + "\\固件.up"};
    for (const auto& path : paths) {
        SharedSettings shared;
        shared.setDownloadFilePath(path);
        WindowSettings window;
        window.cs = "引脚1";
        ASSERT_TRUE(SaveSettings(file, shared, window));
        SharedSettings loaded;
        WindowSettings loadedWindow;
        LoadSettings(file, loaded, loadedWindow);
        EXPECT_EQ(loaded.downloadFilePath(), path);
        EXPECT_EQ(loadedWindow.cs, "引脚1");
    }
}

TEST(SettingsFileTest, PathLongerThanTheProfileLimitComesBackWhole) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    const std::string path = "/data/" + std::string(300, 'x') + "/固件.up";
    SharedSettings shared;
    shared.setDownloadFilePath(path);
    ASSERT_TRUE(SaveSettings(file, shared, WindowSettings{}));
    SharedSettings loaded;
    WindowSettings window;
    LoadSettings(file, loaded, window);
#ifdef _WIN32
    // The profile functions read at most 259 characters.
    EXPECT_EQ(loaded.downloadFilePath(), path.substr(0, 259));
#else
    EXPECT_EQ(loaded.downloadFilePath(), path);
#endif
}

#ifndef _WIN32
// Runs `scenario` in a child process without root's rights (root writes anywhere), so the
// folder and file permissions below take effect. The child exits 0 when every check held.
void WithoutRootRights(const std::function<bool(const fs::path&)>& scenario) {
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::exit(3);
            char name[] = "/tmp/brev-settings-XXXXXX";
            if (!::mkdtemp(name)) std::exit(4);
            const bool ok = scenario(name);
            fs::permissions(name, fs::perms::owner_all);
            fs::remove_all(name);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

bool Check(bool condition, const char* what) {
    if (!condition) std::fprintf(stderr, "failed: %s\n", what);
    return condition;
}

TEST(SettingsFileDeathTest, ReadOnlyFolderWithAWritableFileIsWrittenInPlace) {
    WithoutRootRights([](const fs::path& dir) {
        const fs::path file = dir / "confile.inf";
        test::WriteText(file, "[setting]\nchipType=1\n");
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        SharedSettings shared;
        shared.busChipType = 6;
        std::string error = "unset";
        const bool saved = SaveSettings(file, shared, WindowSettings{}, &error);
        SharedSettings loaded;
        WindowSettings window;
        LoadSettings(file, loaded, window);
        return Check(saved, "saved") && Check(error.empty(), "no error") &&
               Check(loaded.busChipType == 6, "new value") &&
               Check(std::distance(fs::directory_iterator(dir), {}) == 1, "no other file");
    });
}

TEST(SettingsFileDeathTest, ReadOnlyFileIsNotReplacedAndSaysWhy) {
    WithoutRootRights([](const fs::path& dir) {
        const fs::path file = dir / "confile.inf";
        const std::string before = "[setting]\nchipType=1\n";
        test::WriteText(file, before);
        fs::permissions(file, fs::perms::owner_read);
        SharedSettings shared;
        shared.busChipType = 6;
        std::string error;
        const bool saved = SaveSettings(file, shared, WindowSettings{}, &error);
        return Check(!saved, "refused") &&
               Check(error == std::make_error_code(std::errc::permission_denied).message(), "reason") &&
               Check(test::ReadText(file) == before, "file unchanged") &&
               Check(std::distance(fs::directory_iterator(dir), {}) == 1, "no temporary file");
    });
}

TEST(SettingsFileDeathTest, ReadOnlyFolderWithoutTheFileFails) {
    WithoutRootRights([](const fs::path& dir) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        std::string error;
        const bool saved = SaveSettings(dir / "confile.inf", SharedSettings{}, WindowSettings{}, &error);
        return Check(!saved, "refused") &&
               Check(error == std::make_error_code(std::errc::permission_denied).message(), "reason");
    });
}
#endif

TEST(SettingsFileTest, PathWithALineBreakIsNotWrittenIntoTheFile) {
    test::TempDir dir;
    const fs::path file = dir.path() / "confile.inf";
    SharedSettings shared;
    shared.setDownloadFilePath("/tmp/a\n[setting]\nautoDownload=1");
    shared.busChipType = 8;
    EXPECT_FALSE(SaveSettings(file, shared, WindowSettings{}));
    SharedSettings loaded;
    WindowSettings window;
    LoadSettings(file, loaded, window);
    EXPECT_EQ(loaded.busChipType, 8);
    EXPECT_EQ(loaded.autoDownloadFlag, 0);
    EXPECT_EQ(loaded.downloadFilePath(), "");
    EXPECT_EQ(test::ReadText(file).find("[setting]", 1), std::string::npos);
}

TEST(ModeFileTest, PcUpdateSupport) {
    test::TempDir dir;
    const fs::path modeFile = dir / "brevload_files" / "sys.inf";
    EXPECT_EQ(ReadPcUpdateSupport(modeFile), 0);

    fs::create_directories(modeFile.parent_path());
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"[OTHER]\npc_update_support=1\n", 0}, {"[MODE]\nother=1\n", 0},
        {"[MODE]\npc_update_support=1\n", 1},  {"[mode]\r\nPC_Update_Support = 1\r\n", 1},
        {"[MODE]\npc_update_support=0\n", 0},
    };
    for (const auto& c : cases) {
        test::WriteText(modeFile, c.text);
        EXPECT_EQ(ReadPcUpdateSupport(modeFile), c.expected) << c.text;
    }
    EXPECT_EQ(test::ReadText(modeFile), cases[4].text);
}

}  // namespace
}  // namespace brev
