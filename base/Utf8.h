// UTF-8 text measured in characters and in UTF-16 units (what Windows counts in).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brev {

// Bytes of the character that starts with `lead`: 2, 3 or 4 for the lead bytes of such
// sequences, 1 for ASCII and for a byte no character starts with (continuation bytes and
// 0xF8-0xFF), so a stray byte never swallows the characters after it.
constexpr std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC0 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    return 1;
}

// Byte offset after the first `count` characters (the text's size when it has fewer).
std::size_t Utf8SkipChars(std::string_view text, std::size_t count);

// The longest prefix that fits in `maxUnits` UTF-16 code units without splitting a character
// (a 4-byte character takes two units).
std::string Utf8CutToUtf16Units(std::string_view text, std::size_t maxUnits);

}  // namespace brev
