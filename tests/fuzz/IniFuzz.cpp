// The settings reader and writer: any bytes read and written back unchanged; a value set is
// read back as set, through a save and a new read, and the other keys keep their values.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings/IniFile.h"
#include "tests/fuzz/FuzzCheck.h"

using brev::IniFile;

namespace {

// A value Get gives back exactly: no surrounding blanks, no quotes around it.
bool PlainValue(std::string_view v) {
    if (v.empty()) return true;
    if (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t') return false;
    return !(v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first bytes choose the section, key and value to set; the rest is the file.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const auto cut = [&](std::string_view& rest) {
        const auto bar = rest.find('|');
        std::string_view part = rest.substr(0, bar);
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
        return part;
    };
    std::string_view rest = all;
    const std::string section(cut(rest)), key(cut(rest)), value(cut(rest));
    const std::string file(rest);

    IniFile ini = IniFile::Parse(file);
    const bool utf16 = file.starts_with("\xFF\xFE");
    if (!utf16) FUZZ_CHECK(ini.Serialize() == file);

    const auto mode = ini.Get("MODE", "pc_update_support");
    const int pc = ini.GetInt("MODE", "pc_update_support", -12345);
    if (!mode || mode->empty()) FUZZ_CHECK(pc == -12345);

    const auto otherBefore = ini.Get("setting", "downloadFile");
    // Line endings, doubled or cut short, are never part of a value (a quoted value keeps
    // whatever its quotes hold).
    const bool quotes = file.find_first_of("\"'") != std::string::npos;
    for (const auto& v : {mode, otherBefore, ini.Get(section, key)})
        FUZZ_CHECK(!v || (v->find('\n') == std::string::npos && (quotes || !v->ends_with('\r'))));
    if (!ini.Set(section, key, value)) return 0;
    const IniFile again = IniFile::Parse(ini.Serialize());
    if (!utf16 && PlainValue(value)) FUZZ_CHECK(again.Get(section, key) == value);
    // A UTF-16 file holds text only: bytes that are no UTF-8 come back as U+FFFD.
    const auto ascii = [](std::string_view s) {
        for (char c : s)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    };
    if (!utf16 || (ascii(section) && ascii(key))) FUZZ_CHECK(again.Get(section, key).has_value());
    // Keys of other names (case aside) keep what they had.
    const auto lower = [](std::string_view s) {
        const auto first = s.find_first_not_of(" \t");
        s = first == std::string_view::npos ? std::string_view()
                                            : s.substr(first, s.find_last_not_of(" \t") - first + 1);
        std::string out(s);
        for (char& c : out) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        return out;
    };
    if (!utf16 && otherBefore && lower(key) != "downloadfile")
        FUZZ_CHECK(again.Get("setting", "downloadFile") == otherBefore);
    return 0;
}
