// The command line's parsers: an option list, the pin list and --sim-fault. What they accept
// they must read right: numbers in their ranges, pins and fault arguments as written.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "app/SimFleet.h"
#include "cli/Options.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts{""};
    for (char c : s) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// A plain reading of a fault number: decimal, or hexadecimal after 0x; nothing else.
std::optional<long long> PlainNumber(const std::string& t) {
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const std::string digits = hex ? t.substr(2) : t;
    if (digits.empty()) return std::nullopt;
    long long v = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return std::nullopt;
        v = v * (hex ? 16 : 10) + d;
        if (v > (1LL << 40)) return std::nullopt;  // far past any accepted number
    }
    return v;
}

void CheckFault(const std::string& text) {
    std::string device, error;
    brev::sim::FaultConfig f;
    if (!brev::ParseSimFault(text, device, f, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    const auto parts = Split(text, ':');
    FUZZ_CHECK(parts.size() >= 2 && device == parts[0] && !device.empty());
    const auto arg = [&](size_t i) { return PlainNumber(parts.at(i)); };
    const std::string& kind = parts[1];
    if (kind == "fail") {
        FUZZ_CHECK(arg(2) && *arg(2) == f.failSubCommand);
        FUZZ_CHECK(parts.size() == 3 ? f.failNth == 1 : (arg(3) && *arg(3) == f.failNth && f.failNth >= 1));
    } else if (kind == "short") {
        FUZZ_CHECK(parts.size() == 4 && f.shortIn && arg(2) && *arg(2) == f.shortSubCommand);
        FUZZ_CHECK(arg(3) && *arg(3) == f.shortBytes);
    } else if (kind == "crc-swap") {
        FUZZ_CHECK(parts.size() == 2 && f.crcByteSwap);
    } else {
        FUZZ_CHECK(parts.size() == 3 && arg(2) && *arg(2) >= 1);
        const int n = kind == "flip"   ? f.flipBitInWriteNth
                      : kind == "drop" ? f.dropAfterCommands
                                       : f.timeoutNth;
        FUZZ_CHECK((kind == "flip" || kind == "drop" || kind == "timeout") && *arg(2) == n);
    }
}

void CheckPins(const std::string& text) {
    std::vector<std::string> pins;
    if (!brev::cli::ParsePinList(text, pins)) return;
    FUZZ_CHECK(pins.size() == 4);
    std::string joined, kept;
    for (const auto& p : pins) {
        FUZZ_CHECK(!p.empty() && p.find_first_of(", ") == std::string::npos);
        joined += p;
    }
    for (char c : text)
        if (c != ',' && c != ' ') kept += c;
    FUZZ_CHECK(joined == kept);  // nothing dropped, nothing made up
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = Split(input, '\n');
    for (const auto& w : words) {
        CheckFault(w);
        CheckPins(w);
    }

    CLI::App app;
    brev::cli::CommonOptions o;
    brev::cli::AddCommonOptions(app, o);
    app.allow_extras();
    std::vector<std::string> args(words.rbegin(), words.rend());  // CLI11 takes them last first
    try {
        app.parse(args);
    } catch (const CLI::Error&) {
        return 0;
    }
    FUZZ_CHECK(o.simulate >= 0 && o.simulate <= 64 && o.simulatePc >= 0 && o.simulatePc <= 64);
    for (const auto& b : {o.clkDiv, o.lineMode, o.chipSelIndirect, o.chipSelDirect, o.chipType})
        FUZZ_CHECK(!b || (*b >= 0 && *b <= 255));
    FUZZ_CHECK(o.simTimeScale >= 0.0 && o.simTimeScale <= 1000.0);
    std::vector<std::string> pins;
    FUZZ_CHECK(o.pins.empty() || brev::cli::ParsePinList(o.pins, pins));
    return 0;
}
