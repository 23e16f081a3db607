// Which volumes are ours, and which mode they run in: the one place that knows the identity
// strings our devices report.
#pragma once

#include <string>
#include <vector>

namespace brev {

// Case-sensitive substrings of the vendor or product identification; an empty pattern
// matches everything, an empty list nothing.
using PatternList = std::vector<std::string>;

inline const PatternList& VendorPatterns() {
    static const PatternList patterns{"BRVNTIS"};
    return patterns;
}

// A device waiting for its firmware (download mode).
inline const PatternList& DownloadModeProducts() {
    static const PatternList patterns{"DEVICE"};
    return patterns;
}

// A device running its firmware, updated through the PC-mode path.
inline const PatternList& PcModeProducts() {
    static const PatternList patterns{"COMP_AUDIO", "USB"};
    return patterns;
}

// The products a scan looks for: PC-mode devices only when the mode file allows PC updates.
inline PatternList ProductPatterns(bool pcUpdateSupport) {
    PatternList patterns = DownloadModeProducts();
    if (pcUpdateSupport) patterns.insert(patterns.end(), PcModeProducts().begin(), PcModeProducts().end());
    return patterns;
}

// True for the product strings of a device served through its PC-mode firmware.
inline bool IsPcModeProduct(const std::string& product) {
    for (const std::string& p : PcModeProducts())
        if (product.find(p) != std::string::npos) return true;
    return false;
}

}  // namespace brev
