// A small INI reader/writer that behaves like the Windows private-profile functions for what
// the settings need: case-insensitive sections and keys, first match wins, integers read as
// a leading decimal number, strings cut to 259 characters. Writing changes only the line of
// the key it sets; every other byte of the file is kept, as are a UTF-8 BOM and the line endings.
// A file in UTF-16LE with a byte-order mark (as the Windows profile functions write) is read and
// written back in UTF-16LE.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace brev {

// Longest string value a read returns, in UTF-16 code units (a 260-unit buffer with its terminator).
inline constexpr size_t kIniMaxStringLength = 259;

class IniFile {
public:
    // Renames `from` over `to`; the seam a save goes through for its last step.
    using RenameFn =
        std::function<std::error_code(const std::filesystem::path& from, const std::filesystem::path& to)>;

    IniFile() = default;
    // The file's bytes: UTF-8 (with or without a BOM) or UTF-16LE after its BOM.
    static IniFile Parse(std::string_view bytes);
    // A missing file gives an empty IniFile; a file that exists but cannot be read gives nothing.
    static std::optional<IniFile> Load(const std::filesystem::path& path);

    // The value with surrounding blanks and one pair of matching quotes removed, uncut.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The leading decimal number of the value; `def` when the key is missing or empty.
    int GetInt(std::string_view section, std::string_view key, int def) const;
    // The value cut to kIniMaxStringLength characters; `def` when the key is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
    // The section's keys in file order, each once (as first written), without blanks.
    std::vector<std::string> Keys(std::string_view section) const;

    // Replaces the key's value in place, or adds the key at the end of its section, or adds the
    // section at the end. Refuses (false, nothing changed) text that would break the line
    // structure: a line break anywhere, "=" in a key, "]" in a section name, empty names.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // True when a "[name]" line is among the lines.
    bool HasSection() const;

    std::string Serialize() const;
    // Writes a temporary file beside `path` and renames it over `path`, so a failure at any
    // point leaves the old file whole. Only when the folder refuses a new file but the file
    // itself may be written is the file rewritten in place. A read-only file is not replaced.
    // False when the file was not written, with the reason in `error`.
    bool Save(const std::filesystem::path& path, const RenameFn& rename = {},
              std::error_code* error = nullptr) const;

private:
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\r\n", "\n" or "" (last line without one)
    };

    // Index of the section's header line, or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the key's line within the section that starts at sectionLine, or npos.
    size_t FindKey(size_t sectionLine, std::string_view key) const;
    std::string NewLineEnding() const;

    bool bom_ = false;
    bool utf16_ = false;  // UTF-16LE with a byte-order mark on disk
    std::vector<Line> lines_;
};

}  // namespace brev
