#include "device/linux/Sysfs.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace brev::sysfs {

bool IsSafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool IsScsiDiskName(const std::string& name) {
    if (name.size() < 3) return false;
    const std::string rest = name.substr(2);
    if (name.starts_with("sd")) {
        return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    }
    if (name.starts_with("sr")) {
        return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return false;
}

bool KernelNameLess(const std::string& a, const std::string& b) {
    const std::string pa = a.substr(0, 2), pb = b.substr(0, 2);
    if (pa != pb) return pa < pb;
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::optional<std::string> ReadAttribute(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    std::array<char, 4096> chunk;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return std::nullopt;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string ScsiGenericName(const std::string& deviceDir) {
    std::error_code ec;
    fs::directory_iterator it(fs::path(deviceDir) / "scsi_generic", ec);
    if (ec) return {};
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("sg") && IsSafeName(name)) return name;
    }
    return {};
}

}  // namespace brev::sysfs
