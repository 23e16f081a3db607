#include "device/CommandSet.h"

#include <utility>

#include "base/Bytes.h"
#include "image/Crc16.h"

namespace brev {

namespace cmd {

Cdb Block(uint8_t selector, uint8_t sub, uint32_t len, uint32_t addr) {
    Cdb b{};
    b[0] = static_cast<uint8_t>(0xC0 | (selector & 0x0F));
    b[1] = sub;
    PutLe32(&b[2], len);
    PutLe32(&b[6], addr);
    return b;
}

Cdb ReadFlashIdBlock(uint8_t selector) { return Block(selector, ReadFlashId, 4, 0); }
Cdb WriteByteBlock(uint32_t len, uint32_t addr, uint8_t selector) {
    return Block(selector, WriteByte, len, addr);
}
Cdb WritePageBlock(uint32_t len, uint32_t addr, uint8_t selector) {
    return Block(selector, WritePage, len, addr);
}
Cdb Erase4KBlock(uint32_t addr, uint8_t selector) { return Block(selector, Erase4K, 0, addr); }
Cdb Erase32KBlock(uint32_t addr, uint8_t selector) { return Block(selector, Erase32K, 0, addr); }
Cdb Erase64KBlock(uint32_t addr, uint8_t selector) { return Block(selector, Erase64K, 0, addr); }
Cdb EraseChipBlock(uint8_t selector) { return Block(selector, EraseChip); }
Cdb ReadBlock(uint32_t len, uint32_t addr, uint8_t selector) { return Block(selector, Read, len, addr); }
Cdb FastReadBlock(uint32_t len, uint32_t addr, uint8_t selector) {
    return Block(selector, FastRead, len, addr);
}
Cdb WriteRamBlock(uint32_t len, uint32_t addr, uint8_t selector) {
    return Block(selector, WriteRam, len, addr);
}
Cdb ExecuteBlock(uint32_t addr, uint8_t selector) { return Block(selector, Execute, 0, addr); }

Cdb InitBlock(const BusParams& bus, uint8_t selector) {
    Cdb b = Block(selector, Init);
    b[2] = EffectiveClkDiv(bus.clkDiv);
    b[3] = bus.lineMode;
    b[4] = bus.chipSelIndirect;
    b[5] = bus.chipSelDirect;
    b[6] = bus.chipType;
    return b;
}

Cdb GetCrc16Block(uint32_t len, uint32_t addr, uint8_t selector) {
    return Block(selector, GetCrc16, len, addr);
}
Cdb SystemResetBlock(uint8_t selector) { return Block(selector, SystemReset); }
Cdb ReadChipVerBlock(uint8_t selector) { return Block(selector, ReadChipVer, 4, 0); }

Cdb SetKeyBlock(bool set, uint16_t key) {
    Cdb b = Block(0, SetKey);
    b[2] = set ? 1 : 0;
    if (set) {
        PutLe16(&b[3], key);
    }
    return b;
}

// The RAM program and the PC-mode firmware only answer to byte 0 = 0xC0.
Cdb LoaderReadFlashIdBlock() { return Block(0, LoaderReadFlashId, 4, 0); }
Cdb LoaderWriteBlock(uint32_t len, uint32_t addr) { return Block(0, LoaderWrite, len, addr); }
Cdb LoaderErase4KBlock(uint32_t addr) { return Block(0, LoaderErase4K, 0, addr); }
Cdb LoaderGetCrc16Block(uint32_t len, uint32_t addr) { return Block(0, LoaderGetCrc16, len, addr); }
Cdb PcStartWriteBlock() { return Block(0, PcStartWrite); }
Cdb PcStartEraseBlock() { return Block(0, PcStartErase); }

bool CarriesAddressedData(const uint8_t* cdb, DataDirection dir, uint32_t length) {
    if (cdb == nullptr || (cdb[0] & 0xC0) != 0xC0 || GetLe32(cdb + 2) != length) return false;
    switch (cdb[1]) {
        case Read:
        case FastRead:
            return dir == DataDirection::In;
        case WriteByte:
        case WritePage:
        case WriteRam:
        case LoaderWrite:
            return dir == DataDirection::Out;
        default:
            return false;
    }
}

}  // namespace cmd

CDataLoader::CDataLoader(std::shared_ptr<MassDevice> device, std::shared_ptr<CFlashProtocol> protocol)
    : device_(std::move(device)), protocol_(std::move(protocol)) {}

namespace {
uint8_t SelectorOf(const std::shared_ptr<CFlashProtocol>& protocol) {
    return protocol ? protocol->selector : 0;
}
}  // namespace

bool CDataLoader::Init(uint8_t clkDiv, uint8_t lineMode, uint8_t chipSelIndirect, uint8_t chipSelDirect,
                       uint8_t chipType) {
    if (!device_ || device_->Open() != 1) return false;
    const cmd::BusParams bus{clkDiv, lineMode, chipSelIndirect, chipSelDirect, chipType};
    return Send(cmd::InitBlock(bus, SelectorOf(protocol_)));
}

bool CDataLoader::WritePage(const uint8_t* data, uint32_t addr, uint32_t length) {
    return SendOut(cmd::WritePageBlock(length, addr, SelectorOf(protocol_)), data, length);
}

bool CDataLoader::GetCrc16(uint8_t out[2], uint32_t addr, uint32_t length) {
    return SendIn(cmd::GetCrc16Block(length, addr, SelectorOf(protocol_)), out, 2);
}

bool CDataLoader::WriteRam(const uint8_t* data, uint32_t length) {
    return SendOut(cmd::WriteRamBlock(length, cmd::kResetProgramLoadAddr, SelectorOf(protocol_)), data,
                   length);
}

bool CDataLoader::Execute() {
    return Send(cmd::ExecuteBlock(cmd::kResetProgramExecAddr, SelectorOf(protocol_)));
}

bool CDataLoader::Send(const Cdb& cdb) { return device_ && device_->TransferOut(cdb.data(), 0, nullptr); }

bool CDataLoader::SendIn(const Cdb& cdb, uint8_t* data, uint32_t length) {
    return device_ && device_->TransferIn(cdb.data(), length, data);
}

bool CDataLoader::SendOut(const Cdb& cdb, const uint8_t* data, uint32_t length) {
    return device_ && device_->TransferOut(cdb.data(), length, data);
}

CDataLoader2::CDataLoader2(std::shared_ptr<MassDevice> device, std::shared_ptr<CFlashProtocol> protocol)
    : device_(std::move(device)), protocol_(std::move(protocol)) {}

namespace {

bool CrcMatches(const uint8_t answer[2], const uint8_t* data, uint32_t length) {
    return GetLe16(answer) == Crc16Ccitt(data, static_cast<int64_t>(length));
}

}  // namespace

bool EraseWriteVerify(std::shared_ptr<CDataLoader> loader, uint32_t addr, const uint8_t* data,
                      uint32_t length, EraseUnit eraseUnit, std::optional<uint16_t> expectedCrc) {
    if (!loader || (length > 0 && data == nullptr)) return false;
    const uint64_t unit = static_cast<uint64_t>(eraseUnit);
    if (eraseUnit != EraseUnit::Unit4K && eraseUnit != EraseUnit::Unit64K) return false;
    const uint64_t end = static_cast<uint64_t>(addr) + length;  // exclusive
    if (end > 0x100000000ull) return false;                     // beyond the 32-bit address space

    const uint8_t selector = SelectorOf(loader->protocol());
    auto erase = [&](uint32_t at) {
        return loader->Send(eraseUnit == EraseUnit::Unit4K ? cmd::Erase4KBlock(at, selector)
                                                           : cmd::Erase64KBlock(at, selector));
    };
    // Every unit the block touches must be erased, or the tail would be programmed over old data.
    // The first erase goes to addr itself; the device erases the unit that holds it.
    if (!erase(addr)) return false;
    const uint64_t lastUnit = length > 0 ? (end - 1) / unit : addr / unit;
    for (uint64_t u = addr / unit + 1; u <= lastUnit; ++u) {
        if (!erase(static_cast<uint32_t>(u * unit))) return false;
    }

    if (!loader->WritePage(data, addr, length)) return false;
    uint8_t crc[2] = {0, 0};
    if (!loader->GetCrc16(crc, addr, length)) return false;
    if (expectedCrc) return GetLe16(crc) == *expectedCrc;
    return CrcMatches(crc, data, length);
}

bool LoaderWriteVerify(std::shared_ptr<CDataLoader2> loader, uint32_t addr, const uint8_t* data,
                       uint32_t length) {
    if (!loader || !loader->device() || (length > 0 && data == nullptr)) return false;
    MassDevice& device = *loader->device();
    const Cdb write = cmd::LoaderWriteBlock(length, addr);
    if (!device.TransferOut(write.data(), length, data)) return false;
    uint8_t crc[2] = {0, 0};
    const Cdb getCrc = cmd::LoaderGetCrc16Block(length, addr);
    if (!device.TransferIn(getCrc.data(), 2, crc)) return false;
    return CrcMatches(crc, data, length);
}

}  // namespace brev
