#include "base/Utf8.h"

#include <algorithm>

namespace brev {

std::size_t Utf8SkipChars(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < text.size(); ++n)
        at += Utf8SequenceLength(static_cast<unsigned char>(text[at]));
    return std::min(at, text.size());
}

std::string Utf8CutToUtf16Units(std::string_view text, std::size_t maxUnits) {
    std::size_t pos = 0;
    std::size_t units = 0;
    while (pos < text.size()) {
        const std::size_t bytes =
            std::min(Utf8SequenceLength(static_cast<unsigned char>(text[pos])), text.size() - pos);
        const std::size_t charUnits = bytes == 4 ? 2 : 1;
        if (units + charUnits > maxUnits) break;
        units += charUnits;
        pos += bytes;
    }
    return std::string(text.substr(0, pos));
}

}  // namespace brev
