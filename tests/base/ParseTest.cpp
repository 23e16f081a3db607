#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/Parse.h"

namespace brev {
namespace {

struct StrictCase {
    const char* text;
    NumberBase base;
    std::optional<long long> asInt32;  // nullopt: refused
    std::optional<long long> asUint8;
};

TEST(ParseInteger, AcceptsOnlyAWholeNumberInRange) {
    const auto D = NumberBase::Decimal;
    const auto H = NumberBase::DecimalOrHex;
    const StrictCase cases[] = {
        {"0", D, 0, 0},
        {"255", D, 255, 255},
        {"256", D, 256, std::nullopt},
        {"-1", D, -1, std::nullopt},
        {"-2147483648", D, -2147483648LL, std::nullopt},
        {"2147483648", D, std::nullopt, std::nullopt},
        {"99999999999999999999999", D, std::nullopt, std::nullopt},
        {"", D, std::nullopt, std::nullopt},
        {"-", D, std::nullopt, std::nullopt},
        {"--1", D, std::nullopt, std::nullopt},
        {"+1", D, std::nullopt, std::nullopt},
        {" 1", D, std::nullopt, std::nullopt},
        {"1 ", D, std::nullopt, std::nullopt},
        {"12abc", D, std::nullopt, std::nullopt},
        {"0x10", D, std::nullopt, std::nullopt},
        {"0x10", H, 16, 16},
        {"0XfF", H, 255, 255},
        {"-0x10", H, -16, std::nullopt},
        {"0x", H, std::nullopt, std::nullopt},
        {"0x-1", H, std::nullopt, std::nullopt},
        {"010", H, 10, 10},  // a leading zero is not octal
    };
    for (const StrictCase& c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        const auto i32 = ParseInteger<int32_t>(c.text, c.base);
        const auto u8 = ParseInteger<uint8_t>(c.text, c.base);
        ASSERT_EQ(i32.has_value(), c.asInt32.has_value());
        if (i32) {
            EXPECT_EQ(*i32, *c.asInt32);
        }
        ASSERT_EQ(u8.has_value(), c.asUint8.has_value());
        if (u8) {
            EXPECT_EQ(*u8, *c.asUint8);
        }
    }
}

TEST(ParseLeadingInteger, ReadsLikeAtoiAndClampsInsteadOfOverflowing) {
    const struct {
        const char* text;
        int32_t asInt32;
        int64_t asInt64;
    } cases[] = {
        {"5", 5, 5},
        {"  \t12ab", 12, 12},
        {"+7", 7, 7},
        {"-7x", -7, -7},
        {"", 0, 0},
        {"abc", 0, 0},
        {"- 3", 0, 0},
        {"2147483647", INT32_MAX, 2147483647},
        {"2147483648", INT32_MAX, 2147483648LL},
        {"-2147483648", INT32_MIN, -2147483648LL},
        {"-99999999999", INT32_MIN, -99999999999LL},
        {"99999999999999999999999", INT32_MAX, INT64_MAX},
        {"-99999999999999999999999", INT32_MIN, INT64_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        EXPECT_EQ(ParseLeadingInteger<int32_t>(c.text), c.asInt32);
        EXPECT_EQ(ParseLeadingInteger<int64_t>(c.text), c.asInt64);
    }
    // Where it stopped, as strtoll's end pointer says it: after the digits, or 0 without any.
    const struct {
        const char* text;
        std::size_t end;
    } ends[] = {
        {"", 0}, {"  ", 0}, {"+", 0}, {" 12", 3}, {"12 ", 2}, {"-7x", 2}, {"99999999999999999999", 20}};
    for (const auto& c : ends) {
        std::size_t end = 99;
        ParseLeadingInteger<int32_t>(c.text, &end);
        EXPECT_EQ(end, c.end) << "text '" << c.text << "'";
    }
    EXPECT_EQ(ParseLeadingInteger<uint8_t>("300"), 255);
    EXPECT_EQ(ParseLeadingInteger<uint8_t>("-3"), 0);
}

}  // namespace
}  // namespace brev
