// UTF-8 text <-> filesystem paths. A plain std::string path would be read in the ANSI code
// page on Windows, so every UTF-8 path goes through these.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brev {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace brev
