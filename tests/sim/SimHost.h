// A bare host for the simulator tests: builds blocks by hand from the wire format, so the
// model is checked against the format itself and not against the production builders.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/Bytes.h"
#include "device/CommandSet.h"
#include "device/sim/SimDevice.h"
#include "tests/support/Pattern.h"

namespace brev::sim::test {

using Block = std::array<uint8_t, kCdbSize>;

// The wire format is little-endian; byte packing is the one thing shared with the host code.
inline void Put32(uint8_t* p, uint32_t v) { PutLe32(p, v); }

inline Block MakeCdb(uint8_t sub, uint32_t len = 0, uint32_t addr = 0) {
    Block b{};
    b[0] = 0xC0;
    b[1] = sub;
    Put32(&b[2], len);
    Put32(&b[6], addr);
    return b;
}

using brev::test::Pattern;

struct Host {
    SimDevice& dev;

    TransferResult None(const Block& b) {
        return dev.HandleCommand(b.data(), DataDirection::None, nullptr, 0);
    }
    TransferResult In(const Block& b, std::vector<uint8_t>& out) {
        return dev.HandleCommand(b.data(), DataDirection::In, out.data(), uint32_t(out.size()));
    }
    TransferResult Out(const Block& b, std::vector<uint8_t> data) {
        return dev.HandleCommand(b.data(), DataDirection::Out, data.data(), uint32_t(data.size()));
    }

    TransferResult Init() { return None(MakeCdb(cmd::Init, 9)); }
    TransferResult Write(uint32_t addr, const std::vector<uint8_t>& data, uint8_t sub = cmd::WritePage) {
        return Out(MakeCdb(sub, uint32_t(data.size()), addr), data);
    }
    std::optional<uint16_t> Crc(uint32_t addr, uint32_t len, uint8_t sub = cmd::GetCrc16) {
        std::vector<uint8_t> answer(2);
        if (!In(MakeCdb(sub, len, addr), answer).ok()) return std::nullopt;
        return GetLe16(answer.data());
    }
    std::optional<uint32_t> Id(uint8_t sub) {
        std::vector<uint8_t> answer(4);
        if (!In(MakeCdb(sub, 4), answer).ok()) return std::nullopt;
        return GetLe32(answer.data());
    }
    // WriteRam then Execute, as the host loads a RAM program.
    TransferResult Run(const std::vector<uint8_t>& program, uint32_t loadAddr, uint32_t execAddr) {
        const auto loaded = Write(loadAddr, program, cmd::WriteRam);
        if (!loaded.ok()) return loaded;
        return None(MakeCdb(cmd::Execute, 0, execAddr));
    }
    TransferResult StartSpiLoader(std::vector<uint8_t> program = StandInSpiLoader()) {
        return Run(program, cmd::kSpiLoaderLoadAddr, cmd::kSpiLoaderExecAddr);
    }
};

}  // namespace brev::sim::test
