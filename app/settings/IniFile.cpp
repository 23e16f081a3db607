#include "app/settings/IniFile.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "base/Parse.h"
#include "base/Utf8.h"

namespace brev {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr size_t npos = std::string::npos;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t");
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

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    if (text.starts_with(kUtf8Bom)) {
        ini.bom_ = true;
        text.remove_prefix(kUtf8Bom.size());
    }
    while (!text.empty()) {
        const auto nl = text.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
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

std::string IniFile::NewLineEnding() const {
    for (const auto& line : lines_) {
        if (!line.eol.empty()) {
            return line.eol;
        }
    }
    return "\n";
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        section.find(']') != npos || key.find('=') != npos || key.front() == '[' || IsComment(key)) {
        return false;
    }
    const std::string eol = NewLineEnding();
    const std::string entry = std::string(key) + "=" + std::string(value);

    const size_t s = FindSection(section);
    if (s == npos) {
        if (!lines_.empty()) {
            if (lines_.back().eol.empty()) {
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
    if (lines_[last].eol.empty()) {
        lines_[last].eol = eol;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{entry, eol});
    return true;
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
    return out;
}

bool IniFile::Save(const fs::path& path, const RenameFn& rename) const {
    std::error_code ec;
    // Replace the file a link points to, not the link.
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec) {
            return false;
        }
    }
    std::random_device rd;
    fs::path tempName = ".";
    tempName += target.filename();
    tempName += ".";
    tempName += std::to_string(rd());
    tempName += ".tmp";
    const fs::path temp = target.parent_path() / tempName;

    const std::string text = Serialize();
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    // Keep the old file's permissions.
    const auto oldStatus = fs::status(target, ec);
    if (!ec && fs::exists(oldStatus)) {
        fs::permissions(temp, oldStatus.permissions(), ec);
    }

    const std::error_code renamed = rename ? rename(temp, target) : [&] {
        std::error_code e;
        fs::rename(temp, target, e);
        return e;
    }();
    if (renamed) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace brev
