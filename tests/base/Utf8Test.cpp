#include <gtest/gtest.h>

#include <string>

#include "base/Utf8.h"

namespace brev {
namespace {

TEST(Utf8, SequenceLengthByLeadByte) {
    const struct {
        unsigned lead;
        std::size_t length;
    } cases[] = {{0x00, 1}, {0x41, 1}, {0x7F, 1}, {0x80, 1}, {0xBF, 1}, {0xC0, 2}, {0xDF, 2},
                 {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF7, 4}, {0xF8, 1}, {0xFC, 1}, {0xFF, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lead);
        EXPECT_EQ(Utf8SequenceLength(static_cast<unsigned char>(c.lead)), c.length);
    }
}

TEST(Utf8, SkipsCharactersNotBytes) {
    const std::string text =
        "PA\xE4\xB8\xAD"  // "PA中"
        "9";
    EXPECT_EQ(Utf8SkipChars(text, 2), 2u);
    EXPECT_EQ(Utf8SkipChars(text, 3), 5u);
    EXPECT_EQ(Utf8SkipChars(text, 10), text.size());
    // A stray 0xF8 counts as one character and does not swallow the digits after it.
    EXPECT_EQ(Utf8SkipChars("\xF8"
                            "12",
                            1),
              1u);
    // A sequence cut short by the end of the text stops at the end.
    EXPECT_EQ(Utf8SkipChars("a\xE4\xB8", 2), 3u);
}

TEST(Utf8, CutsToUtf16UnitsWithoutSplittingACharacter) {
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    const std::string text = "ab\xE4\xB8\xAD" + emoji + "c";
    EXPECT_EQ(Utf8CutToUtf16Units(text, 0), "");
    EXPECT_EQ(Utf8CutToUtf16Units(text, 3), "ab\xE4\xB8\xAD");
    EXPECT_EQ(Utf8CutToUtf16Units(text, 4), "ab\xE4\xB8\xAD");  // the emoji needs two
    EXPECT_EQ(Utf8CutToUtf16Units(text, 5), "ab\xE4\xB8\xAD" + emoji);
    EXPECT_EQ(Utf8CutToUtf16Units(text, 100), text);
}

}  // namespace
}  // namespace brev
