// The vendor command set: one small builder per command block, the objects that send
// the frequent ones, and the verified block writes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "device/MassDevice.h"

namespace brev {

using Cdb = std::array<uint8_t, kCdbSize>;

namespace cmd {
enum SubCommand : uint8_t {
    ReadFlashId = 0x00,
    WriteByte = 0x01,
    WritePage = 0x02,
    Erase4K = 0x03,
    Erase32K = 0x04,
    Erase64K = 0x05,
    EraseChip = 0x06,
    Read = 0x07,
    FastRead = 0x08,
    WriteRam = 0x09,
    Execute = 0x0A,
    LoaderReadFlashId = 0x10,
    LoaderWrite = 0x12,
    LoaderErase4K = 0x13,
    PcStartWrite = 0x16,
    Init = 0x81,
    GetCrc16 = 0x82,
    SystemReset = 0x83,
    ReadChipVer = 0x84,
    SetKey = 0x85,
    LoaderGetCrc16 = 0x92,
    PcStartErase = 0xD9,
};

constexpr uint32_t kSpiLoaderLoadAddr = 0x00808000;
constexpr uint32_t kSpiLoaderExecAddr = 0x00808041;
constexpr uint32_t kResetProgramLoadAddr = 0x00820000;
constexpr uint32_t kResetProgramExecAddr = 0x00820001;
constexpr uint16_t kDeviceKey = 0x7B2D;

struct BusParams {
    uint8_t clkDiv = 0, lineMode = 0, chipSelIndirect = 0, chipSelDirect = 0, chipType = 0;
};

// Generic block: byte 0 = 0xC0 | (selector & 0x0F), byte 1 = sub, len at 2, addr at 6.
Cdb Block(uint8_t selector, uint8_t sub, uint32_t len = 0, uint32_t addr = 0);

// One builder per command (selector 0 unless given).
Cdb ReadFlashIdBlock(uint8_t selector = 0);
Cdb WriteByteBlock(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb WritePageBlock(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb Erase4KBlock(uint32_t addr, uint8_t selector = 0);
Cdb Erase32KBlock(uint32_t addr, uint8_t selector = 0);
Cdb Erase64KBlock(uint32_t addr, uint8_t selector = 0);
Cdb EraseChipBlock(uint8_t selector = 0);
Cdb ReadBlock(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb FastReadBlock(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb WriteRamBlock(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb ExecuteBlock(uint32_t addr, uint8_t selector = 0);
Cdb InitBlock(const BusParams& bus, uint8_t selector = 0);  // clkDiv 0 is sent as 9
Cdb GetCrc16Block(uint32_t len, uint32_t addr, uint8_t selector = 0);
Cdb SystemResetBlock(uint8_t selector = 0);
Cdb ReadChipVerBlock(uint8_t selector = 0);
Cdb SetKeyBlock(bool set, uint16_t key);  // byte 0 is always 0xC0
Cdb LoaderReadFlashIdBlock();
Cdb LoaderWriteBlock(uint32_t len, uint32_t addr);
Cdb LoaderErase4KBlock(uint32_t addr);
Cdb LoaderGetCrc16Block(uint32_t len, uint32_t addr);
Cdb PcStartWriteBlock();
Cdb PcStartEraseBlock();

// The clock divider actually sent for a stored setting (0 stands for 9).
inline uint8_t EffectiveClkDiv(uint8_t clkDiv) { return clkDiv == 0 ? 9 : clkDiv; }

// True for a block whose data phase is `length` bytes at the block's address, in the command's
// own direction (WriteByte, WritePage, Read, FastRead, WriteRam, LoaderWrite): such a command may
// go out as consecutive pieces, each with the address advanced and the length reduced.
bool CarriesAddressedData(const uint8_t* cdb, DataDirection dir, uint32_t length);
}  // namespace cmd

class CFlashProtocol {
public:
    uint8_t selector = 0;
};

class CDataLoader {
public:
    CDataLoader(std::shared_ptr<MassDevice> device, std::shared_ptr<CFlashProtocol> protocol);
    // Opens the device first; false without sending when it does not open.
    bool Init(uint8_t clkDiv, uint8_t lineMode, uint8_t chipSelIndirect, uint8_t chipSelDirect,
              uint8_t chipType);
    bool WritePage(const uint8_t* data, uint32_t addr, uint32_t length);
    bool GetCrc16(uint8_t out[2], uint32_t addr, uint32_t length);
    bool WriteRam(const uint8_t* data, uint32_t length);  // at the reset program's address
    bool Execute();                                       // the reset program's entry
    // Other commands of the chip's own family on this loader's device, sent exactly as built
    // (build them with protocol()->selector).
    bool Send(const Cdb& cdb);                                    // no data
    bool SendIn(const Cdb& cdb, uint8_t* data, uint32_t length);  // data in
    bool SendOut(const Cdb& cdb, const uint8_t* data, uint32_t length);

    const std::shared_ptr<MassDevice>& device() const { return device_; }
    const std::shared_ptr<CFlashProtocol>& protocol() const { return protocol_; }

private:
    std::shared_ptr<MassDevice> device_;
    std::shared_ptr<CFlashProtocol> protocol_;
};

// Same layout as CDataLoader, no operations of its own: the argument of LoaderWriteVerify.
class CDataLoader2 {
public:
    CDataLoader2(std::shared_ptr<MassDevice> device, std::shared_ptr<CFlashProtocol> protocol);
    const std::shared_ptr<MassDevice>& device() const { return device_; }
    const std::shared_ptr<CFlashProtocol>& protocol() const { return protocol_; }

private:
    std::shared_ptr<MassDevice> device_;
    std::shared_ptr<CFlashProtocol> protocol_;
};

enum class EraseUnit : uint32_t { Unit4K = 0x1000, Unit64K = 0x10000 };

// Erases every unit the block covers, writes it, and compares the device's CRC with the one
// the block must have: `expectedCrc` when given (taken from the checked image), else the CRC
// of `data`.
bool EraseWriteVerify(std::shared_ptr<CDataLoader> loader, uint32_t addr, const uint8_t* data,
                      uint32_t length, EraseUnit eraseUnit,
                      std::optional<uint16_t> expectedCrc = std::nullopt);
// LoaderWrite then LoaderGetCrc16 over the same range (no erase).
bool LoaderWriteVerify(std::shared_ptr<CDataLoader2> loader, uint32_t addr, const uint8_t* data,
                       uint32_t length);

}  // namespace brev
