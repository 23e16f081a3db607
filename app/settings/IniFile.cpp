#include "app/settings/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "base/AtomicFile.h"
#include "base/Parse.h"
#include "base/Utf8.h"

namespace brev {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr size_t npos = std::string::npos;

// Blanks, and CRs left over from doubled line endings ("\r\r\n"): never part of a name or value.
std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view t = Trim(line);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16LE bytes (no BOM) as UTF-8; a lone surrogate becomes U+FFFD, an odd last byte is dropped.
std::string Utf8FromUtf16Le(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

// UTF-8 as UTF-16LE bytes (no BOM); a byte that starts no valid character becomes U+FFFD.
std::string Utf16LeFromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8SequenceLength(lead);
        uint32_t c = 0xFFFD;
        bool valid = n == 1 ? lead < 0x80 : i + n <= text.size();
        if (n == 1 && valid) {
            c = lead;
        } else if (valid) {
            c = lead & (0xFF >> (n + 1));
            for (size_t k = 1; k < n; ++k) {
                const auto b = static_cast<unsigned char>(text[i + k]);
                if ((b & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                c = (c << 6) | (b & 0x3F);
            }
            if (!valid || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
        }
        i += valid ? n : 1;
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

#ifdef _WIN32
// The conditions the callers test for, as the POSIX build reports them.
std::error_code LastError() {
    const DWORD code = GetLastError();
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return std::make_error_code(std::errc::permission_denied);
        case ERROR_FILE_EXISTS:
            return std::make_error_code(std::errc::file_exists);
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        default:
            return {static_cast<int>(code), std::system_category()};
    }
}
#else
std::error_code LastError() { return {errno, std::generic_category()}; }
#endif

// Writes `text` to `path` and flushes it to the disk. `create`: a new file (error when it
// exists); otherwise an existing file is emptied and rewritten in place.
std::error_code WriteWholeFile(const fs::path& path, std::string_view text, bool create) {
#ifdef _WIN32
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, create ? CREATE_NEW : TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    std::error_code ec;
    for (size_t done = 0; done < text.size() && !ec;) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(h, text.data() + done, chunk, &n, nullptr)) {
            ec = LastError();
        } else {
            done += n;
        }
    }
    if (!ec && !FlushFileBuffers(h)) ec = LastError();
    CloseHandle(h);
    return ec;
#else
    const int fd = ::open(path.c_str(), create ? (O_WRONLY | O_CREAT | O_EXCL) : (O_WRONLY | O_TRUNC), 0600);
    if (fd < 0) return LastError();
    std::error_code ec;
    for (size_t done = 0; done < text.size() && !ec;) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            ec = LastError();
        } else if (n > 0) {
            done += static_cast<size_t>(n);
        }
    }
    if (!ec && ::fsync(fd) != 0) ec = LastError();
    if (::close(fd) != 0 && !ec) ec = LastError();
    return ec;
#endif
}

// A folder refused a new file, for lack of rights rather than for lack of room.
bool RefusedForRights(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted;
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile ini;
    std::string decoded;
    std::string_view text = bytes;
    if (text.starts_with(kUtf8Bom)) {
        ini.bom_ = true;
        text.remove_prefix(kUtf8Bom.size());
    } else if (text.starts_with(kUtf16LeBom)) {
        // Written by the Windows profile functions: kept in memory as UTF-8, saved back as it came.
        ini.utf16_ = true;
        decoded = Utf8FromUtf16Le(text.substr(kUtf16LeBom.size()));
        text = decoded;
    }
    while (!text.empty()) {
        const auto nl = text.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
            // A last line cut off after the CR of its CRLF: the CR ends the line, it is not part
            // of the value.
            if (text.ends_with('\r')) {
                text.remove_suffix(1);
                line.eol = "\r";
            }
            line.text = std::string(text);
            text = {};
        } else {
            std::string_view body = text.substr(0, nl);
            if (body.ends_with('\r')) {
                body.remove_suffix(1);
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = std::string(body);
            text.remove_prefix(nl + 1);
        }
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

std::optional<IniFile> IniFile::Load(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        return IniFile{};
    }
    if (ec || !fs::is_regular_file(status)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return Parse(text.str());
}

size_t IniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].text);
        if (name && EqualsNoCase(*name, Trim(section))) {
            return i;
        }
    }
    return npos;
}

size_t IniFile::FindKey(size_t sectionLine, std::string_view key) const {
    for (size_t i = sectionLine + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
        const std::string& text = lines_[i].text;
        const auto eq = text.find('=');
        if (eq != npos && !IsComment(text) &&
            EqualsNoCase(Trim(std::string_view(text).substr(0, eq)), Trim(key))) {
            return i;
        }
    }
    return npos;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const size_t s = FindSection(section);
    if (s == npos) {
        return std::nullopt;
    }
    const size_t k = FindKey(s, key);
    if (k == npos) {
        return std::nullopt;
    }
    const std::string& text = lines_[k].text;
    std::string_view value = Trim(std::string_view(text).substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int def) const {
    const auto value = Get(section, key);
    if (!value || value->empty()) {
        return def;
    }
    // Leading sign and digits; anything after them is ignored, no digits read as 0, and the
    // value wraps at 32 bits (past 64 bits it is clamped first).
    return static_cast<int>(static_cast<uint32_t>(ParseLeadingInteger<int64_t>(*value)));
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def) const {
    const auto value = Get(section, key);
    return Utf8CutToUtf16Units(value ? std::string_view(*value) : def, kIniMaxStringLength);
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    const size_t s = FindSection(section);
    if (s == npos) {
        return keys;
    }
    for (size_t i = s + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
        const std::string& text = lines_[i].text;
        const auto eq = text.find('=');
        if (eq == npos || IsComment(text)) {
            continue;
        }
        const std::string_view key = Trim(std::string_view(text).substr(0, eq));
        const bool seen = std::any_of(keys.begin(), keys.end(),
                                      [key](const std::string& k) { return EqualsNoCase(k, key); });
        if (!key.empty() && !seen) {
            keys.emplace_back(key);
        }
    }
    return keys;
}

std::string IniFile::NewLineEnding() const {
    for (const auto& line : lines_) {
        // A bare CR only ever ends the last line; it would join new lines into one.
        if (!line.eol.empty() && line.eol != "\r") {
            return line.eol;
        }
    }
    return "\n";
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    // Line breaks are looked for before trimming, which drops CRs: "\rk" names no key "k".
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
        return false;
    }
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty() || section.find(']') != npos || key.find('=') != npos ||
        key.front() == '[' || IsComment(key)) {
        return false;
    }
    const std::string eol = NewLineEnding();
    const std::string entry = std::string(key) + "=" + std::string(value);

    const size_t s = FindSection(section);
    if (s == npos) {
        if (!lines_.empty()) {
            if (lines_.back().eol.empty() || lines_.back().eol == "\r") {
                lines_.back().eol = eol;
            }
            if (!Trim(lines_.back().text).empty()) {
                lines_.push_back({"", eol});
            }
        }
        std::string header = "[";
        header.append(section).append("]");
        lines_.push_back({std::move(header), eol});
        lines_.push_back({entry, eol});
        return true;
    }

    const size_t k = FindKey(s, key);
    if (k != npos) {
        std::string& text = lines_[k].text;
        text = text.substr(0, text.find('=') + 1) + std::string(value);
        return true;
    }

    // After the section's last non-blank line, so blank lines before the next section stay there.
    size_t last = s;
    for (size_t i = s + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
        if (!Trim(lines_[i].text).empty()) {
            last = i;
        }
    }
    if (lines_[last].eol.empty() || lines_[last].eol == "\r") {
        lines_[last].eol = eol;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{entry, eol});
    return true;
}

bool IniFile::HasSection() const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [](const Line& l) { return SectionName(l.text).has_value(); });
}

std::string IniFile::Serialize() const {
    std::string out;
    if (bom_) {
        out += kUtf8Bom;
    }
    for (const auto& line : lines_) {
        out += line.text;
        out += line.eol;
    }
    if (utf16_) {
        return std::string(kUtf16LeBom) + Utf16LeFromUtf8(out);
    }
    return out;
}

bool IniFile::Save(const fs::path& path, const RenameFn& rename, std::error_code* error) const {
    std::error_code ignored;
    std::error_code& failure = error ? *error : ignored;
    failure.clear();
    std::error_code ec;
    // Replace the file a link points to, not the link.
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec) {
            failure = ec;
            return false;
        }
    }
    const auto oldStatus = fs::status(target, ec);
    const bool exists = !ec && fs::exists(oldStatus);
#ifndef _WIN32
    // A read-only file stays as it is, as it would on Windows, although its folder would let
    // a new file take its place.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        failure = LastError();
        return false;
    }
#endif
    // Saves killed half-way left their temporary files; one running now is younger.
    RemoveLeftoverTemporaries(target, 60);
    const fs::path temp = TemporaryNameFor(target);

    const std::string text = Serialize();
    if (const std::error_code written = WriteWholeFile(temp, text, true)) {
        fs::remove(temp, ec);
        // A folder that takes no new file may still hold a writable settings file: rewrite it in
        // place, giving up the all-or-nothing replacement only then.
        if (exists && RefusedForRights(written)) {
            failure = WriteWholeFile(target, text, false);
            return !failure;
        }
        failure = written;
        return false;
    }
    // Keep the old file's permissions.
    if (exists) {
        fs::permissions(temp, oldStatus.permissions(), ec);
    }

    const std::error_code renamed = rename ? rename(temp, target) : [&] {
        std::error_code e;
        fs::rename(temp, target, e);
        return e;
    }();
    if (renamed) {
        fs::remove(temp, ec);
        failure = renamed;
        return false;
    }
    // The rename itself survives a power cut once the folder is on the disk.
    SyncFolder(target.has_parent_path() ? target.parent_path() : fs::path("."));
    return true;
}

}  // namespace brev
