// Just enough JSON for one event per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brev::cli {

// The text as a JSON string literal, quotes included. UTF-8 is kept as it is; bytes that are
// not valid UTF-8 (device strings may hold anything) become U+FFFD so every line stays valid.
std::string JsonString(std::string_view text);

// Builds one object field by field: {"a":1,"b":"x"}.
class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::string_view value);
    JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    JsonObject& Add(std::string_view key, const std::string& value) {
        return Add(key, std::string_view(value));
    }
    JsonObject& Add(std::string_view key, int64_t value);
    JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject& Add(std::string_view key, uint64_t value);
    JsonObject& Add(std::string_view key, double value);
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& AddNull(std::string_view key);
    // `json` must already be valid JSON (an array or object built elsewhere).
    JsonObject& AddRaw(std::string_view key, std::string_view json);
    std::string str() const { return text_ + "}"; }

private:
    void key(std::string_view k);
    std::string text_ = "{";
};

}  // namespace brev::cli
