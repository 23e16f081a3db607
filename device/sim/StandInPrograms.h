// Layout of the stand-in RAM programs, shared by their writer and the simulated chip.
//
// A stand-in program carries a 16-byte entry marker at its entry point:
//   "BRVSIM" | kind | version 1 | linked entry address (u32 LE) | body length (u16 LE) | body CRC (u16 LE)
// followed by the body. The chip runs it only when it is executed at exactly the linked entry
// and the whole body arrived intact, the way a real RAM program only works where it was linked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace brev::sim::standin {

enum class Kind : uint8_t { SpiLoader = 'S', Reset = 'R' };

constexpr std::size_t kMarkerSize = 16;
constexpr uint32_t kSpiLoaderEntryOffset = 0x40;  // after the pin block and a readable tag
constexpr std::size_t kPinBlockSize = 32;
constexpr std::size_t kResetHeaderSize = 256;  // skipped by the host, not loaded

// The kind of stand-in program whose marker sits at `entryAddr`, where `mem` holds `avail`
// bytes from that address on; nothing when there is none or it is damaged.
std::optional<Kind> Recognise(const uint8_t* mem, std::size_t avail, uint32_t entryAddr);

}  // namespace brev::sim::standin
