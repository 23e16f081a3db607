#include <gtest/gtest.h>

#include <fstream>

#include "app/Language.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

struct LocaleCase {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    bool chinese;
};

TEST(LanguageChoice, TheFirstNonEmptyLocaleVariableDecides) {
    const LocaleCase cases[] = {
        {nullptr, nullptr, nullptr, false},
        {nullptr, nullptr, "C", false},
        {nullptr, nullptr, "POSIX", false},
        {nullptr, nullptr, "zh_CN.UTF-8", true},
        {nullptr, nullptr, "zh_TW", true},
        {nullptr, nullptr, "en_US.UTF-8", false},
        {nullptr, nullptr, "de_DE.UTF-8", false},
        {"", "", "zh_CN.UTF-8", true},                   // empty variables count as unset
        {"en_US.UTF-8", nullptr, "zh_CN.UTF-8", false},  // LC_ALL first
        {"zh_CN.UTF-8", "en_US.UTF-8", "en_US.UTF-8", true},
        {nullptr, "zh_CN.GB2312", "en_US.UTF-8", true},  // then LC_MESSAGES
        {nullptr, "C", "zh_CN.UTF-8", false},
        {nullptr, nullptr, "ZH_CN", false},  // locale names are case-sensitive
    };
    for (const LocaleCase& c : cases) {
        SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") + " " +
                     (c.lang ? c.lang : "-"));
        EXPECT_EQ(LocaleIsChinese(c.lcAll, c.lcMessages, c.lang), c.chinese);
    }
}

struct ChoiceCase {
    std::vector<std::string> arguments;
    std::string setting;
    bool systemChinese;
    std::optional<Language> expected;  // nothing: the command line is refused
};

TEST(LanguageChoice, CommandLineThenSettingThenSystem) {
    using L = Language;
    const ChoiceCase cases[] = {
        {{"brevload"}, "", true, L::Chinese},
        {{"brevload"}, "", false, L::English},
        {{"brevload"}, "zh", false, L::Chinese},
        {{"brevload"}, "en", true, L::English},
        {{"brevload"}, "fr", true, L::Chinese},  // an unknown value follows the system
        {{"brevload"}, "EN", false, L::English},
        {{"brevload", "--lang", "en"}, "zh", true, L::English},
        {{"brevload", "--lang", "zh"}, "en", false, L::Chinese},
        {{"brevload", "--lang=en"}, "", true, L::English},
        {{"brevload", "-a", "-fx.up", "--lang", "zh", "--simulate", "2"}, "", false, L::Chinese},
        {{"brevload", "--lang", "zh", "--lang", "en"}, "", true, L::English},  // the last one counts
        {{"brevload", "--lang", "fr"}, "zh", true, std::nullopt},
        {{"brevload", "--lang", "EN"}, "", true, std::nullopt},
        {{"brevload", "--lang"}, "", true, std::nullopt},
        {{"brevload", "--lang="}, "en", true, std::nullopt},
        {{"--lang", "en"}, "", true, L::Chinese},  // argument 0 is the program
    };
    for (const ChoiceCase& c : cases) {
        std::string joined;
        for (const auto& a : c.arguments) joined += a + " ";
        SCOPED_TRACE(joined + "| setting '" + c.setting + "' | system " + (c.systemChinese ? "zh" : "other"));
        std::string error;
        const auto chosen = ChooseLanguage({c.arguments, c.setting, c.systemChinese}, error);
        EXPECT_EQ(chosen, c.expected);
        if (!c.expected) {
            EXPECT_NE(error.find("--lang"), std::string::npos) << error;
            EXPECT_NE(error.find("zh or en"), std::string::npos) << error;
        }
    }
}

TEST(LanguageChoice, TheSettingComesFromTheSettingsFileSection) {
    test::TempDir dir;
    const auto file = dir.path() / "confile.inf";
    EXPECT_EQ(ReadLanguageSetting(file), "");  // no file yet
    {
        std::ofstream out(file);
        out << "[other]\r\nlanguage=zh\r\n[setting]\r\nautoDownload=1\r\nLanguage = en \r\n";
    }
    EXPECT_EQ(ReadLanguageSetting(file), "en");
    std::string error;
    EXPECT_EQ(ChooseProcessLanguage({"brevload"}, &file, error), Language::English);
    EXPECT_EQ(ChooseProcessLanguage({"brevload", "--lang", "zh"}, &file, error), Language::Chinese);
}

}  // namespace
}  // namespace brev
