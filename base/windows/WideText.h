// Text conversions at the Win32 boundary: our strings are UTF-8, the W functions take UTF-16,
// and some device strings arrive in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace brev::win {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
// Bytes in the ANSI code page (CP_ACP) to UTF-8; empty when they cannot be converted.
std::string Utf8FromAnsi(std::string_view ansi);

}  // namespace brev::win
