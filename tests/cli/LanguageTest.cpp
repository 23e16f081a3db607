// The tool's language from the locale, --lang and the settings file, seen from outside the process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kCrcEnglish = "4 The CRC of the firmware data does not match the header";
constexpr const char* kCrcChinese = "4 烧录数据CRC与计算结果不符";

struct LanguageCase {
    const char* command;            // "check" or "download" (which reads the settings file)
    std::string locale;             // LANG
    std::vector<std::string> lang;  // extra arguments
    const char* setting;            // the settings file's language key; null: no settings file
    bool english;
};

TEST(CliLanguage, ABadImageIsReportedInTheChosenLanguage) {
    const LanguageCase cases[] = {
        {"check", "en_US.UTF-8", {}, nullptr, true},
        {"check", "zh_CN.UTF-8", {}, nullptr, false},
        {"check", "C", {}, nullptr, true},
        {"check", "zh_CN.UTF-8", {"--lang", "en"}, nullptr, true},
        {"check", "en_US.UTF-8", {"--lang=zh"}, nullptr, false},
        {"check", "zh_CN.UTF-8", {}, "en", false},  // check reads no settings
        {"download", "en_US.UTF-8", {}, nullptr, true},
        {"download", "zh_CN.UTF-8", {}, nullptr, false},
        {"download", "zh_CN.UTF-8", {}, "en", true},
        {"download", "en_US.UTF-8", {}, "zh", false},
        {"download", "en_US.UTF-8", {}, "", true},
        {"download", "en_US.UTF-8", {"--lang", "en"}, "zh", true},
    };
    for (const LanguageCase& c : cases) {
#ifdef _WIN32
        // Wine gives a child the language of its parent's Unix locale (here Chinese), whatever
        // environment it is started with: only the cases on a Chinese system can be told apart.
        if (!c.locale.starts_with("zh")) continue;
#endif
        SCOPED_TRACE(std::string(c.command) + " " + c.locale + (c.lang.empty() ? "" : " " + c.lang.front()) +
                     " setting " + (c.setting ? c.setting : "-"));
        CliFolder dir;
        auto file = MakeUpdateImage(SomeData(1000, 5));
        file.back() ^= 1;
        WriteBytes(dir / "bad.up", file);
        if (c.setting != nullptr)
            std::ofstream(dir / "confile.inf") << "[setting]\nlanguage=" << c.setting << "\n";
        std::vector<std::string> args{c.command, "bad.up"};
        if (std::string(c.command) == "download") args.insert(args.end(), {"--simulate", "1"});
        args.insert(args.end(), c.lang.begin(), c.lang.end());
        const RunResult r = dir.Run(args, c.locale);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_THAT(r.out + r.err, HasSubstr(c.english ? kCrcEnglish : kCrcChinese));
        EXPECT_THAT(r.out + r.err, Not(HasSubstr(c.english ? kCrcChinese : kCrcEnglish)));
    }
}

TEST(CliLanguage, AnUnknownLanguageIsBadUsage) {
    CliFolder dir;
    const RunResult r = dir.Run({"list", "--simulate", "1", "--lang", "fr"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("--lang 'fr': expected zh or en"));
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace brev::clitest
