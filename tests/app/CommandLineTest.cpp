#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace brev {
namespace {

struct Case {
    const char* what;
    std::vector<std::string> args;
    bool console;
    bool readButton;
    bool manualBus;
    bool hasFile;
    std::string file;
    std::vector<std::string> longOptions;
};

TEST(CommandLineTest, ParsesLikeTheWindowDoes) {
    const Case cases[] = {
        {"nothing", {"brevload"}, false, false, false, false, "", {}},
        {"console", {"brevload", "-a"}, true, false, false, false, "", {}},
        {"console and file", {"brevload", "-a", "-fC:/fw/a.up"}, true, false, false, true, "C:/fw/a.up", {}},
        {"file before -a", {"brevload", "-f/x.up", "-a"}, true, false, false, true, "/x.up", {}},
        {"upper-case A is a file argument", {"brevload", "-A"}, false, false, false, true, "", {}},
        {"-dfx is not -df", {"brevload", "-dfx"}, false, false, false, true, "fx", {}},
        {"-df alone", {"brevload", "-df"}, false, false, true, false, "", {}},
        {"-cr", {"brevload", "-cr"}, false, true, false, false, "", {}},
        {"-CR is a file argument", {"brevload", "-CR"}, false, false, false, true, "R", {}},
        {"later file wins", {"brevload", "-fone.up", "-ftwo.up"}, false, false, false, true, "two.up", {}},
        {"any second letter", {"brevload", "-xpath.up"}, false, false, false, true, "path.up", {}},
        {"bare minus", {"brevload", "-"}, false, false, false, true, "", {}},
        {"bare path ignored", {"brevload", "/home/u/fw.up"}, false, false, false, false, "", {}},
        {"-f then a separate path", {"brevload", "-f", "fw.up"}, false, false, false, true, "", {}},
        {"argument 0 examined", {"-fzero.up"}, false, false, false, true, "zero.up", {}},
        {"argument 0 as -a", {"-a"}, true, false, false, false, "", {}},
        {"long options are not files",
         {"brevload", "-fkeep.up", "--simulate", "--sim-devices=2", "--"},
         false,
         false,
         false,
         true,
         "keep.up",
         {"--simulate", "--sim-devices=2", "--"}},
        {"everything", {"brevload", "-df", "-cr", "-a", "-ffw.up"}, true, true, true, true, "fw.up", {}},
        {"non-ASCII path kept byte for byte",
         {"brevload", "-f固件.up"},
         false,
         false,
         false,
         true,
         "固件.up",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CommandLine cl = ParseCommandLine(c.args);
        EXPECT_EQ(cl.consoleMode, c.console);
        EXPECT_EQ(cl.showReadButton, c.readButton);
        EXPECT_EQ(cl.manualBusParams, c.manualBus);
        EXPECT_EQ(cl.hasFilePath, c.hasFile);
        EXPECT_EQ(cl.filePath, c.file);
        EXPECT_EQ(cl.longOptions, c.longOptions);
    }
}

// The records' options take the next argument whole: it is never a switch or a file argument.
TEST(CommandLineTest, RecordsOptionsTakeTheirValues) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string records, station, url;
        bool noRecords;
        std::string error;
    } cases[] = {
        {"none", {"brevload"}, "", "", "", false, ""},
        {"separate values",
         {"brevload", "--records", "/r/a.sqlite", "--station", "line 7", "--records-url",
          "postgresql://h/db"},
         "/r/a.sqlite",
         "line 7",
         "postgresql://h/db",
         false,
         ""},
        {"joined values",
         {"brevload", "--records=b.sqlite", "--station=", "--no-records"},
         "b.sqlite",
         "",
         "",
         true,
         ""},
        {"values that look like switches",
         {"brevload", "--station", "-a", "--records", "-fx.up"},
         "-fx.up",
         "-a",
         "",
         false,
         ""},
        {"a value missing",
         {"brevload", "--records-url"},
         "",
         "",
         "",
         false,
         "--records-url: a value is needed"},
        {"other long options pass", {"brevload", "--recordsx", "--no-records=1"}, "", "", "", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandLine cl = ParseCommandLine(c.args);
        EXPECT_EQ(cl.recordsFile, c.records);
        EXPECT_EQ(cl.stationName, c.station);
        EXPECT_EQ(cl.recordsUrl, c.url);
        EXPECT_EQ(cl.noRecords, c.noRecords);
        EXPECT_EQ(cl.error, c.error);
        EXPECT_FALSE(cl.consoleMode);
        EXPECT_FALSE(cl.hasFilePath);
    }
}

TEST(CommandLineTest, ProcessArgumentsKeepsArgvInOrder) {
    char a0[] = "brevload", a1[] = "-a", a2[] = "-ffw.up";
    char* argv[] = {a0, a1, a2, nullptr};
#ifdef _WIN32
    // Windows reads the process's own command line; argv (in the ANSI code page) is not used.
    const std::vector<std::string> args = ProcessArguments(3, argv);
    ASSERT_FALSE(args.empty());
    EXPECT_TRUE(args[0].ends_with("app_tests.exe")) << args[0];
#else
    EXPECT_THAT(ProcessArguments(3, argv), ::testing::ElementsAre("brevload", "-a", "-ffw.up"));
#endif
}

}  // namespace
}  // namespace brev
