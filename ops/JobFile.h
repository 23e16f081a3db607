// The file a job writes from, read piece by piece. A read that comes back short (the file
// shrank, or a range past its end) is a failure: the job must never write what it did not read.
#pragma once

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/Utf8Path.h"

namespace brev {

class JobFile {
public:
    explicit JobFile(const std::filesystem::path& path) : path_(path) {
        // Looked at before it is opened: a FIFO would block the job, a folder never ends.
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            notRegular_ = true;
            return;
        }
        errno = 0;
        in_.open(path, std::ios::binary);
        if (!in_) {
            openErrno_ = errno;
            return;
        }
        in_.seekg(0, std::ios::end);
        const std::streamoff end = in_.tellg();
        if (end < 0) return;
        length_ = static_cast<uint64_t>(end);
        in_.seekg(0, std::ios::beg);
        open_ = static_cast<bool>(in_);
    }
    bool isOpen() const { return open_; }
    uint64_t length() const { return length_; }  // as found when opened
    // Why the file did not open, for logs: "cannot open PATH: the system's text".
    std::string openError() const {
        std::string text = "cannot open " + PathToUtf8(path_);
        if (notRegular_)
            text += ": not a regular file";
        else if (openErrno_ != 0)
            text += ": " + std::generic_category().message(openErrno_);
        return text;
    }

    // Reads exactly `count` bytes from `offset`; false when fewer are there.
    bool ReadAt(uint64_t offset, uint8_t* out, uint32_t count) {
        if (!open_) return false;
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
        if (!in_) return false;
        in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        return in_.gcount() == static_cast<std::streamsize>(count);
    }
    void Close() {
        in_.close();
        open_ = false;
    }

    // A whole small file (a device program); nothing when it cannot be read whole.
    static std::optional<std::vector<uint8_t>> ReadWhole(const std::filesystem::path& path,
                                                         uint64_t maxLength = 64u << 20) {
        JobFile f(path);
        if (!f.isOpen() || f.length() > maxLength) return std::nullopt;
        std::vector<uint8_t> bytes(static_cast<std::size_t>(f.length()));
        if (!bytes.empty() && !f.ReadAt(0, bytes.data(), static_cast<uint32_t>(bytes.size())))
            return std::nullopt;
        return bytes;
    }

private:
    std::filesystem::path path_;
    std::ifstream in_;
    int openErrno_ = 0;
    uint64_t length_ = 0;
    bool open_ = false;
    bool notRegular_ = false;
};

}  // namespace brev
