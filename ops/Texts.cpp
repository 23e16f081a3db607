#include "ops/Texts.h"

#include <atomic>
#include <cstring>

namespace brev::text {
namespace {

std::string Hex(uint32_t value, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return out;
}

// Position of the first conversion (%X, %x or %s); npos when there is none.
std::size_t FindConversion(const std::string& pattern) {
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '%' && std::strchr("Xxs", pattern[i + 1]) != nullptr) return i;
    }
    return std::string::npos;
}

std::atomic<Translator> g_translator{nullptr};

}  // namespace

void SetTranslator(Translator translator) { g_translator.store(translator, std::memory_order_release); }

std::string Tr(const char* source) {
    const Translator translator = g_translator.load(std::memory_order_acquire);
    return translator != nullptr ? translator(source) : std::string(source);
}

std::string Tr(const std::string& source) { return Tr(source.c_str()); }

std::string FillText(const char* pattern, uint32_t value) {
    std::string p = Tr(pattern);
    const std::size_t at = FindConversion(p);
    if (at == std::string::npos) return p;
    const char kind = p[at + 1];
    return p.replace(at, 2, kind == 's' ? std::to_string(value) : Hex(value, kind == 'X'));
}

std::string FillText(const char* pattern, const std::string& value) {
    std::string p = Tr(pattern);
    const std::size_t at = FindConversion(p);
    if (at == std::string::npos) return p;
    return p.replace(at, 2, value);
}

}  // namespace brev::text
