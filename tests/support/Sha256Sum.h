// SHA-256 of a file as lowercase hex, computed by someone else's code: sha256sum on Linux, the
// system's own hash provider on Windows (link bcrypt there).
#pragma once

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <bcrypt.h>

#include <fstream>
#include <iterator>
#include <vector>
#else
#include <cstdio>
#endif

namespace brev::test {

inline std::string Sha256Sum(const std::filesystem::path& file) {
#ifdef _WIN32
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return {};
    unsigned char digest[32] = {};
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
    const bool ok = BCryptHash(alg, nullptr, 0, const_cast<unsigned char*>(data.data()),
                               static_cast<ULONG>(data.size()), digest, sizeof digest) == 0;
    BCryptCloseAlgorithmProvider(alg, 0);
    if (!ok) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
#else
    FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r");
    if (pipe == nullptr) return {};
    char out[65] = {};
    const size_t got = std::fread(out, 1, 64, pipe);
    ::pclose(pipe);
    return std::string(out, got);
#endif
}

}  // namespace brev::test
