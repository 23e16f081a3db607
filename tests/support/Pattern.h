// Reproducible test data: the same seed gives the same bytes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace brev::test {

inline std::vector<uint8_t> Pattern(std::size_t n, uint32_t seed = 7) {
    std::vector<uint8_t> v(n);
    std::mt19937 gen(seed);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

}  // namespace brev::test
