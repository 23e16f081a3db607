#include "device/sim/SparseFlash.h"

#include <algorithm>
#include <cstring>

#include "image/Crc16.h"

namespace brev::sim {

namespace {

// Walks [addr, addr + length) sector by sector.
template <typename F>
void ForEachPiece(uint32_t addr, uint32_t length, F&& f) {
    uint64_t at = addr;
    const uint64_t end = uint64_t(addr) + length;
    uint64_t done = 0;
    while (at < end) {
        const uint32_t index = uint32_t(at / SparseFlash::kSector);
        const uint32_t offset = uint32_t(at % SparseFlash::kSector);
        const uint32_t n = uint32_t(std::min<uint64_t>(SparseFlash::kSector - offset, end - at));
        f(index, offset, n, done);
        at += n;
        done += n;
    }
}

const uint8_t* ErasedSector() {
    static const auto ones = [] {
        std::vector<uint8_t> v(SparseFlash::kSector, 0xFF);
        return v;
    }();
    return ones.data();
}

}  // namespace

SparseFlash::SparseFlash(uint32_t size) : size_(size), sectors_((uint64_t(size) + kSector - 1) / kSector) {}

uint8_t* SparseFlash::SectorFor(uint32_t index) {
    auto& sector = sectors_[index];
    if (!sector) {
        sector = std::make_unique<uint8_t[]>(kSector);
        std::memset(sector.get(), 0xFF, kSector);
    }
    return sector.get();
}

void SparseFlash::Read(uint32_t addr, uint32_t length, uint8_t* out) const {
    ForEachPiece(addr, length, [&](uint32_t index, uint32_t offset, uint32_t n, uint64_t done) {
        const uint8_t* src = sectors_[index] ? sectors_[index].get() : ErasedSector();
        std::memcpy(out + done, src + offset, n);
    });
}

void SparseFlash::Program(uint32_t addr, const uint8_t* data, uint32_t length) {
    // NOR programming only pulls bits to 0; only an erase brings them back to 1.
    ForEachPiece(addr, length, [&](uint32_t index, uint32_t offset, uint32_t n, uint64_t done) {
        uint8_t* dst = SectorFor(index) + offset;
        for (uint32_t i = 0; i < n; ++i) dst[i] &= data[done + i];
    });
}

void SparseFlash::Erase(uint32_t addr, uint32_t length) {
    ForEachPiece(addr, length, [&](uint32_t index, uint32_t offset, uint32_t n, uint64_t) {
        if (offset == 0 && n == kSector)
            sectors_[index].reset();
        else if (sectors_[index])
            std::memset(sectors_[index].get() + offset, 0xFF, n);
    });
}

void SparseFlash::Write(uint32_t addr, const uint8_t* data, uint32_t length) {
    ForEachPiece(addr, length, [&](uint32_t index, uint32_t offset, uint32_t n, uint64_t done) {
        std::memcpy(SectorFor(index) + offset, data + done, n);
    });
}

uint16_t SparseFlash::Crc(uint32_t addr, uint32_t length) const {
    uint16_t crc = kCrc16CcittInit;
    ForEachPiece(addr, length, [&](uint32_t index, uint32_t offset, uint32_t n, uint64_t) {
        const uint8_t* src = sectors_[index] ? sectors_[index].get() : ErasedSector();
        crc = Crc16CcittUpdate(crc, src + offset, n);
    });
    return crc;
}

std::vector<uint8_t> SparseFlash::Dump() const {
    std::vector<uint8_t> bytes(size_);
    Read(0, size_, bytes.data());
    return bytes;
}

void SparseFlash::Restore(const std::vector<uint8_t>& bytes) {
    for (auto& sector : sectors_) sector.reset();
    for (uint32_t index = 0; index < sectors_.size(); ++index) {
        const uint32_t at = index * kSector;
        const uint32_t n = std::min<uint32_t>(kSector, size_ - at);
        const uint8_t* src = bytes.data() + at;
        if (std::any_of(src, src + n, [](uint8_t b) { return b != 0xFF; })) Write(at, src, n);
    }
}

}  // namespace brev::sim
