// The settings file as the Windows store writes it (the profile functions, UTF-16LE) is read
// back the same by that store and by the portable one, and a file the portable store then edits
// stays readable by the profile functions.
#include <gtest/gtest.h>

#include <string>

#include "app/settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

TEST(WindowsSettingsStore, BothStoresReadWhatTheProfileFunctionsWrote) {
    test::TempDir dir;
    const auto file = dir / "confile.inf";
    // A path outside any ANSI code page: only a Unicode file keeps it.
    const std::string path = "D:\\固件\\éprouvé\\fw.up";
    {
        auto store = OpenSettingsStore(file);
        ASSERT_TRUE(store->WriteString("setting", "downloadFile", path));
        ASSERT_TRUE(store->WriteString("setting", "chipType", "3"));
        ASSERT_TRUE(store->Commit()) << store->commitError();
    }
    EXPECT_TRUE(test::ReadText(file).starts_with("\xFF\xFE"));

    auto profile = OpenSettingsStore(file);
    IniSettingsStore portable(file);
    for (ISettingsStore* store :
         {static_cast<ISettingsStore*>(profile.get()), static_cast<ISettingsStore*>(&portable)}) {
        EXPECT_EQ(store->ReadString("setting", "downloadFile", "-"), path);
        EXPECT_EQ(store->ReadInt("setting", "chipType", -1), 3);
        EXPECT_EQ(store->ReadString("setting", "missing", "def"), "def");
    }

    // The portable store saves the file back in its own encoding: still UTF-16LE.
    ASSERT_TRUE(portable.WriteString("setting", "chipType", "4"));
    ASSERT_TRUE(portable.Commit()) << portable.commitError();
    EXPECT_TRUE(test::ReadText(file).starts_with("\xFF\xFE"));
    auto again = OpenSettingsStore(file);
    EXPECT_EQ(again->ReadInt("setting", "chipType", -1), 4);
    EXPECT_EQ(again->ReadString("setting", "downloadFile", "-"), path);
}

}  // namespace
}  // namespace brev
