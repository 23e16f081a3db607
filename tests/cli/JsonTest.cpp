#include <gtest/gtest.h>

#include <limits>

#include "CliRun.h"
#include "cli/Json.h"

namespace brev::clitest {
namespace {

TEST(CliJson, StringsAreEscapedAndStayValidUtf8) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", R"("plain")"},
        {"quote \" and \\ backslash", R"("quote \" and \\ backslash")"},
        {"line\nbreak\ttab\r", R"("line\nbreak\ttab\r")"},
        {std::string("nul\0bell\x07", 9), R"("nul\u0000bell\u0007")"},
        {"数据写入失败", "\"数据写入失败\""},  // UTF-8 kept as it is
        {"bad \xFF byte", "\"bad \xEF\xBF\xBD byte\""},
        {"cut \xE6\x95", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\""},  // a sequence cut short
        {"overlong \xC0\xAF", "\"overlong \xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const Case& c : cases) {
        const std::string json = cli::JsonString(c.in);
        EXPECT_EQ(json, c.out);
        EXPECT_TRUE(IsValidJson(json)) << json;
    }
}

TEST(CliJson, ObjectsAreValidWhateverTheyHold) {
    cli::JsonObject obj;
    obj.Add("text", "a\"b\xFF").Add("n", -3).Add("big", uint64_t{1} << 40).Add("ok", true).AddNull("none");
    obj.Add("nan", std::numeric_limits<double>::quiet_NaN());
    const std::string s = obj.str();
    EXPECT_TRUE(IsValidJson(s)) << s;
    EXPECT_EQ(s,
              "{\"text\":\"a\\\"b\xEF\xBF\xBD\",\"n\":-3,\"big\":1099511627776,\"ok\":true,\"none\":null,"
              "\"nan\":null}");
}

TEST(CliJson, TheValidatorRejectsBrokenLines) {
    for (const char* bad :
         {"", "{", "{\"a\":}", "{\"a\":1,}", "[1 2]", "\"\x01\"", "\"\xFF\"", "{\"a\":01}", "nul"}) {
        EXPECT_FALSE(IsValidJson(bad)) << bad;
    }
}

}  // namespace
}  // namespace brev::clitest
