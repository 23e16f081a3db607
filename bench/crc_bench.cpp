// Throughput of the CRC over 64 KiB blocks, the size used by image checks, beside the
// one-bit-at-a-time form it replaces.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "image/Crc16.h"

namespace {

constexpr size_t kBlockSize = 64 * 1024;

std::vector<uint8_t> RandomBlock() {
    std::mt19937 rng(7);
    std::vector<uint8_t> block(kBlockSize);
    for (auto& b : block) {
        b = static_cast<uint8_t>(rng());
    }
    return block;
}

uint16_t BitwiseCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool differ = (((data[i] >> bit) & 1) != 0) != ((crc & 0x8000) != 0);
            crc = static_cast<uint16_t>(crc << 1);
            if (differ) {
                crc ^= 0x1021;
            }
        }
    }
    return crc;
}

void BM_Crc16Ccitt(benchmark::State& state) {
    const auto block = RandomBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(brev::Crc16Ccitt(block.data(), static_cast<int64_t>(block.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBlockSize));
}
BENCHMARK(BM_Crc16Ccitt);

void BM_Crc16BitwiseReference(benchmark::State& state) {
    const auto block = RandomBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(BitwiseCrc16(block.data(), block.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBlockSize));
}
BENCHMARK(BM_Crc16BitwiseReference);

}  // namespace
