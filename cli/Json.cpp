#include "cli/Json.h"

#include <cmath>
#include <cstdio>

namespace brev::cli {
namespace {

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    uint32_t cp = 0;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t len = Utf8SequenceLength(text, i);
            if (len == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text.substr(i, len));
                i += len;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonObject::key(std::string_view k) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(k);
    text_ += ':';
}

JsonObject& JsonObject::Add(std::string_view k, std::string_view value) {
    key(k);
    text_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view k, int64_t value) {
    key(k);
    text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view k, uint64_t value) {
    key(k);
    text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view k, double value) {
    key(k);
    if (!std::isfinite(value)) {
        text_ += "null";  // JSON has no NaN or infinity
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", value);
        text_ += buf;
    }
    return *this;
}

JsonObject& JsonObject::Add(std::string_view k, bool value) {
    key(k);
    text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddNull(std::string_view k) {
    key(k);
    text_ += "null";
    return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view k, std::string_view json) {
    key(k);
    text_ += json;
    return *this;
}

}  // namespace brev::cli
