// Integer parsing for every text that holds a number: settings, options, sysfs values, pins.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

namespace brev {

enum class NumberBase {
    Decimal,
    // "0x" or "0X" then hexadecimal digits, otherwise decimal (a leading 0 is not octal).
    DecimalOrHex,
};

// The whole text must be the number, within T's range; no blanks, no '+'. A '-' only for
// signed types.
template <std::integral T>
std::optional<T> ParseInteger(std::string_view text, NumberBase base = NumberBase::Decimal) {
    int radix = 10;
    bool negative = false;
    std::string_view digits = text;
    if (std::is_signed_v<T> && !digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (base == NumberBase::DecimalOrHex && digits.size() > 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X')) {
        radix = 16;
        digits.remove_prefix(2);
    }
    // from_chars would take a second sign after the one removed above.
    if (digits.empty() || digits.front() == '-' || digits.front() == '+') return std::nullopt;
    std::conditional_t<std::is_signed_v<T>, long long, unsigned long long> wide = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), wide, radix);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (negative) wide = -wide;
    if (!std::in_range<T>(wide)) return std::nullopt;
    return static_cast<T>(wide);
}

// What C's atoi/strtoll read: leading blanks, an optional sign, then decimal digits up to the
// first other character; 0 without digits. Values beyond T's range are clamped to it. `end`, when
// given, receives what strtoll's end pointer would: the offset after the last digit, 0 without one.
template <std::integral T>
T ParseLeadingInteger(std::string_view s, std::size_t* end = nullptr) {
    using Limits = std::numeric_limits<T>;
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // Magnitudes are gathered unsigned and saturate one past the largest value either sign takes.
    using U = std::make_unsigned_t<T>;
    const U cap =
        negative ? static_cast<U>(U(0) - static_cast<U>(Limits::min())) : static_cast<U>(Limits::max());
    U value = 0;
    const std::size_t digits = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const U digit = static_cast<U>(s[i] - '0');
        value = value > (cap - digit) / 10 ? cap : static_cast<U>(value * 10 + digit);
    }
    if (end != nullptr) *end = i > digits ? i : 0;
    if (!negative) return static_cast<T>(value);
    if constexpr (std::is_signed_v<T>) return static_cast<T>(U(0) - value);
    return 0;  // no negative unsigned values
}

}  // namespace brev
