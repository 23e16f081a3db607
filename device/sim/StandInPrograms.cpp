#include "device/sim/StandInPrograms.h"

#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

#include "base/Bytes.h"
#include "device/CommandSet.h"
#include "device/sim/SimDevice.h"
#include "image/Crc16.h"

namespace brev::sim {
namespace standin {
namespace {

constexpr char kMagic[6] = {'B', 'R', 'V', 'S', 'I', 'M'};
constexpr uint8_t kVersion = 1;

// Marker and body of a program linked at `entry`; the body is readable filler text.
std::vector<uint8_t> EntryCode(Kind kind, uint32_t entry, std::size_t bodyLength, const std::string& text) {
    std::vector<uint8_t> out(kMarkerSize + bodyLength, 0);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    out[6] = static_cast<uint8_t>(kind);
    out[7] = kVersion;
    PutLe32(&out[8], entry);
    PutLe16(&out[12], uint16_t(bodyLength));
    for (std::size_t i = 0; i < bodyLength; ++i) out[kMarkerSize + i] = uint8_t(text[i % text.size()]);
    PutLe16(&out[14], Crc16Ccitt(out.data() + kMarkerSize, int64_t(bodyLength)));
    return out;
}

void PutText(std::vector<uint8_t>& out, std::size_t at, const std::string& text) {
    std::memcpy(out.data() + at, text.data(), text.size());
}

}  // namespace

std::optional<Kind> Recognise(const uint8_t* mem, std::size_t avail, uint32_t entryAddr) {
    if (mem == nullptr || avail < kMarkerSize || std::memcmp(mem, kMagic, sizeof kMagic) != 0) return {};
    const auto kind = static_cast<Kind>(mem[6]);
    if ((kind != Kind::SpiLoader && kind != Kind::Reset) || mem[7] != kVersion) return {};
    if (GetLe32(mem + 8) != entryAddr) return {};
    const std::size_t bodyLength = GetLe16(mem + 12);
    if (avail - kMarkerSize < bodyLength) return {};
    if (Crc16Ccitt(mem + kMarkerSize, int64_t(bodyLength)) != GetLe16(mem + 14)) return {};
    return kind;
}

}  // namespace standin

std::vector<uint8_t> StandInSpiLoader() {
    using namespace standin;
    std::vector<uint8_t> program(kSpiLoaderEntryOffset, 0);
    const int32_t pins[8] = {1, 5, 1, 6, 1, 7, 1, 8};  // PB5 CS, PB6 CLK, PB7 MOSI, PB8 MISO
    for (int i = 0; i < 8; ++i) PutLe32(&program[4 * i], uint32_t(pins[i]));
    PutText(program, kPinBlockSize, "BRVSIM SPI loader (simulator)");
    const auto code =
        EntryCode(Kind::SpiLoader, cmd::kSpiLoaderExecAddr & ~1u, 512 - kSpiLoaderEntryOffset - kMarkerSize,
                  "simulated SPI flash loader; runs only on the simulated chip. ");
    program.insert(program.end(), code.begin(), code.end());
    return program;
}

std::vector<uint8_t> StandInResetProgram() {
    using namespace standin;
    std::vector<uint8_t> program(kResetHeaderSize, 0);
    PutText(program, 0, "BRVSIM reset program (simulator)");
    const auto code = EntryCode(Kind::Reset, cmd::kResetProgramExecAddr & ~1u, 256 - kMarkerSize,
                                "simulated reset program; runs only on the simulated chip. ");
    program.insert(program.end(), code.begin(), code.end());
    return program;
}

bool WriteStandInPrograms(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return false;
    const std::pair<const char*, std::vector<uint8_t>> files[] = {{"spi.bin", StandInSpiLoader()},
                                                                  {"reset.bin", StandInResetProgram()}};
    for (const auto& [name, bytes] : files) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) return false;
    }
    return true;
}

}  // namespace brev::sim
