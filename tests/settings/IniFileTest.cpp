#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/settings/IniFile.h"
#include "app/settings/SettingsStore.h"
#include "tests/support/TempDir.h"
#ifdef __linux__
#include "tests/support/SmallDisk.h"
#endif

namespace brev {
namespace {

TEST(IniFileTest, LookupFollowsProfileRules) {
    const IniFile ini = IniFile::Parse(
        "top=ignored\n"
        "[Other]\n"
        "key=other\n"
        "[ Setting ]\n"
        "  Key  =  spaced value  \n"
        "key=second occurrence\n"
        "quoted=\"a b\"\n"
        "num= 12abc\n"
        "neg=-1\n"
        "big=4294967297\n"
        "word=abc\n"
        "empty=\n");
    EXPECT_EQ(ini.Get("setting", "KEY"), "spaced value");
    EXPECT_EQ(ini.Get("OTHER", "key"), "other");
    EXPECT_EQ(ini.Get("setting", "top"), std::nullopt);
    EXPECT_EQ(ini.Get("setting", "quoted"), "a b");
    EXPECT_EQ(ini.Get("missing", "key"), std::nullopt);

    EXPECT_EQ(ini.GetInt("setting", "num", 7), 12);
    EXPECT_EQ(ini.GetInt("setting", "neg", 7), -1);
    EXPECT_EQ(ini.GetInt("setting", "big", 7), 1);  // wraps at 32 bits
    EXPECT_EQ(ini.GetInt("setting", "word", 7), 0);
    EXPECT_EQ(ini.GetInt("setting", "empty", 7), 7);
    EXPECT_EQ(ini.GetInt("setting", "absent", 7), 7);
    EXPECT_EQ(ini.GetString("setting", "absent", "PB5"), "PB5");
    EXPECT_EQ(ini.GetString("setting", "empty", "PB5"), "");
}

TEST(IniFileTest, LongStringsAreCutWithoutSplittingACharacter) {
    // 258 ASCII characters, then a three-byte and a four-byte (two UTF-16 units) character.
    const std::string ascii(258, 'a');
    IniFile ini = IniFile::Parse("[s]\nthree=" + ascii + "中x\nfour=" + ascii + "\xF0\x9F\x98\x80" + "\n");
    EXPECT_EQ(ini.GetString("s", "three", ""), ascii + "中");
    EXPECT_EQ(ini.GetString("s", "four", ""), ascii);
}

// A byte no character starts with (0xF8-0xFF) counts as one unit and never swallows what follows.
TEST(IniFileTest, StrayBytesAreSingleCharactersWhenCut) {
    const std::string ascii(257, 'a');
    IniFile ini = IniFile::Parse("[s]\ncut=" + ascii + "\xF8" + "bc\nshort=x\xFF" + "yz\n");
    EXPECT_EQ(ini.GetString("s", "cut", ""), ascii + "\xF8" + "b");
    EXPECT_EQ(ini.GetString("s", "short", ""),
              "x\xFF"
              "yz");
}

TEST(IniFileTest, WritesTouchOnlyTheirLineAndKeepTheLayout) {
    const std::string original =
        "\xEF\xBB\xBF; settings\r\n"
        "[first]\r\n"
        "Alpha = 1\r\n"
        "unknown=keep me   \r\n"
        "\r\n"
        "[second]\r\n"
        "x=1";  // no line ending on the last line
    IniFile ini = IniFile::Parse(original);
    EXPECT_EQ(ini.Serialize(), original);

    ASSERT_TRUE(ini.Set("FIRST", "alpha", "2"));
    ASSERT_TRUE(ini.Set("first", "beta", "new"));
    ASSERT_TRUE(ini.Set("second", "y", "2"));
    ASSERT_TRUE(ini.Set("third", "z", "3"));
    EXPECT_EQ(ini.Serialize(),
              "\xEF\xBB\xBF; settings\r\n"
              "[first]\r\n"
              "Alpha =2\r\n"
              "unknown=keep me   \r\n"
              "beta=new\r\n"
              "\r\n"
              "[second]\r\n"
              "x=1\r\n"
              "y=2\r\n"
              "\r\n"
              "[third]\r\n"
              "z=3\r\n");
}

TEST(IniFileTest, BareCrAtTheEndEndsTheLastLine) {
    IniFile ini = IniFile::Parse("[s]\r\nk=v\r");
    EXPECT_EQ(ini.Get("s", "k"), "v");
    EXPECT_EQ(ini.Serialize(), "[s]\r\nk=v\r");
    ASSERT_TRUE(ini.Set("s", "n", "1"));
    EXPECT_EQ(ini.Serialize(), "[s]\r\nk=v\r\nn=1\r\n");

    // CRs of a doubled line ending are not part of the value either.
    EXPECT_EQ(IniFile::Parse("[s]\r\nk=v\r\r\nj=w\r\r").Get("s", "k"), "v");
    EXPECT_EQ(IniFile::Parse("[s]\r\nk=v\r\r\nj=w\r\r").Get("s", "j"), "w");

    // Alone in the file, the bare CR is no line ending to copy for new lines.
    IniFile lone = IniFile::Parse("[s]\r");
    ASSERT_TRUE(lone.Set("s", "k", "v"));
    EXPECT_EQ(IniFile::Parse(lone.Serialize()).Get("s", "k"), "v");
}

TEST(IniFileTest, RefusesTextThatWouldBreakTheLineStructure) {
    IniFile ini = IniFile::Parse("[s]\nk=v\n");
    EXPECT_FALSE(ini.Set("s", "k", "a\n[evil]\nx=1"));
    EXPECT_FALSE(ini.Set("s", "k", "a\rb"));
    EXPECT_FALSE(ini.Set("s", "k=x", "v"));
    EXPECT_FALSE(ini.Set("s]", "k", "v"));
    EXPECT_FALSE(ini.Set("", "k", "v"));
    EXPECT_FALSE(ini.Set("s", ";k", "v"));
    // A CR at either end is a line break too, not a blank that trimming may drop.
    EXPECT_FALSE(ini.Set("s", "\rk", "x"));
    EXPECT_FALSE(ini.Set("s", "k\r", "x"));
    EXPECT_FALSE(ini.Set("\rs", "k", "x"));
    EXPECT_EQ(ini.Serialize(), "[s]\nk=v\n");
}

TEST(IniFileTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    test::TempDir dir;
    const auto path = dir.path() / "confile.inf";
    test::WriteText(path, "[s]\nk=old\n");

    IniFile ini = *IniFile::Load(path);
    ASSERT_TRUE(ini.Set("s", "k", "new"));
    bool renameCalled = false;
    const auto failingRename = [&](const std::filesystem::path& from, const std::filesystem::path& to) {
        renameCalled = true;
        // The complete new text is in place beside the target when the rename is attempted.
        EXPECT_EQ(from.parent_path(), to.parent_path());
        EXPECT_EQ(test::ReadText(from), "[s]\nk=new\n");
        return std::make_error_code(std::errc::no_space_on_device);
    };
    EXPECT_FALSE(ini.Save(path, failingRename));
    EXPECT_TRUE(renameCalled);
    EXPECT_EQ(test::ReadText(path), "[s]\nk=old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A folder that does not exist cannot take the temporary file.
    EXPECT_FALSE(ini.Save(dir.path() / "no-such-folder" / "confile.inf"));

    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(test::ReadText(path), "[s]\nk=new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFileTest, ASaveRemovesTheTemporaryFilesOfKilledSaves) {
    test::TempDir dir;
    const auto path = dir.path() / "confile.inf";
    test::WriteText(path, "[s]\nk=old\n");
    for (const char* name : {".confile.inf.1234.tmp", ".confile.inf.99.tmp"}) {
        test::WriteText(dir / name, "[s]\nk=half");
        std::filesystem::last_write_time(
            dir / name, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }
    IniFile ini = *IniFile::Load(path);
    ASSERT_TRUE(ini.Set("s", "k", "new"));
    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(test::ReadText(path), "[s]\nk=new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

#ifdef __linux__
TEST(IniFileTest, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const auto path = disk / "confile.inf";
    test::WriteText(path, "[s]\nk=old\n");
    test::WriteText(disk / "filler", std::string(128 * 1024, 'x'));  // takes what room is left
    IniFile ini = *IniFile::Load(path);
    ASSERT_TRUE(ini.Set("s", "k", std::string(8000, 'n')));
    std::error_code error;
    EXPECT_FALSE(ini.Save(path, {}, &error));
    EXPECT_EQ(error, std::errc::no_space_on_device);
    EXPECT_EQ(test::ReadText(path), "[s]\nk=old\n");
    EXPECT_EQ(disk.FileCount(), 2u);
}
#endif

// A file the Windows profile functions wrote: UTF-16LE after its BOM, CRLF line endings, a
// character outside the BMP (a surrogate pair). It reads as UTF-8 and is written back in UTF-16LE.
TEST(IniFileTest, Utf16LeFileIsReadAndWrittenBackInItsOwnEncoding) {
    using namespace std::string_literals;
    const std::string original =
        "\xFF\xFE"
        "[\0s\0]\0\r\0\n\0"
        "k\0=\0\x2D\x4E\x3D\xD8\x00\xDE\r\0\n\0"s;  // k=中😀
    IniFile ini = IniFile::Parse(original);
    EXPECT_EQ(ini.Get("s", "k"), "中\xF0\x9F\x98\x80");
    EXPECT_EQ(ini.Serialize(), original);

    ASSERT_TRUE(ini.Set("s", "p", "é"));
    EXPECT_EQ(ini.Serialize(), original + "p\0=\0\xE9\0\r\0\n\0"s);

    // UTF-8 stays UTF-8, with or without its BOM.
    for (const std::string utf8 : {"[s]\nk=中\n", "\xEF\xBB\xBF[s]\nk=中\n"}) {
        IniFile plain = IniFile::Parse(utf8);
        ASSERT_TRUE(plain.Set("s", "p", "é"));
        EXPECT_EQ(plain.Serialize(), utf8 + "p=é\n");
    }
}

TEST(IniFileTest, Utf16LeFileKeepsItsEncodingThroughTheStore) {
    using namespace std::string_literals;
    test::TempDir dir;
    const auto path = dir.path() / "confile.inf";
    test::WriteText(path, "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x2D\x4E\r\0\n\0"s);
    IniSettingsStore store(path);
    EXPECT_EQ(store.ReadString("s", "k", ""), "中");
    ASSERT_TRUE(store.WriteString("s", "k", "a"));
    ASSERT_TRUE(store.Commit());
    EXPECT_EQ(test::ReadText(path), "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0a\0\r\0\n\0"s);
}

}  // namespace
}  // namespace brev
