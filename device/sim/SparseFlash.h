// Flash memory stored per 4 KiB sector, allocated on first program: an erased sector costs
// nothing, so many simulated devices with large flashes fit in little memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace brev::sim {

class SparseFlash {
public:
    static constexpr uint32_t kSector = 0x1000;

    explicit SparseFlash(uint32_t size = 0);

    uint32_t size() const { return size_; }
    bool InRange(uint32_t addr, uint64_t length) const { return addr <= size_ && length <= size_ - addr; }

    // Callers check the range first.
    void Read(uint32_t addr, uint32_t length, uint8_t* out) const;
    void Program(uint32_t addr, const uint8_t* data, uint32_t length);  // new = old & data
    void Erase(uint32_t addr, uint32_t length);                         // to 0xFF
    void Write(uint32_t addr, const uint8_t* data, uint32_t length);    // raw, no flash rules
    uint16_t Crc(uint32_t addr, uint32_t length) const;

    std::vector<uint8_t> Dump() const;
    void Restore(const std::vector<uint8_t>& bytes);  // bytes.size() == size()

private:
    uint8_t* SectorFor(uint32_t index);  // allocates an erased sector

    uint32_t size_;
    std::vector<std::unique_ptr<uint8_t[]>> sectors_;  // null: erased
};

}  // namespace brev::sim
