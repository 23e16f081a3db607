// Temporary folders and small file helpers shared by every test suite.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace brev::test {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "brev-test") {
        std::random_device rd;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             (prefix + "-" + std::to_string(rd()) + std::to_string(rd()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) path_ = std::move(candidate);
        }
        if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& leaf) const { return path_ / leaf; }

private:
    std::filesystem::path path_;
};

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace brev::test
