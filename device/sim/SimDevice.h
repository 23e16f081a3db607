// The simulated target device: a model of the chip as seen through its commands.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "device/PassThrough.h"

namespace brev::sim {

// Time the device takes; all zero by default. Durations are multiplied by timeScale.
struct TimingProfile {
    double perCommandUs = 0;        // fixed overhead of every command
    double transferBytesPerUs = 0;  // data-phase rate (0 = instantaneous)
    double erase4kUs = 0, erase32kUs = 0, erase64kUs = 0, eraseChipUs = 0;
    double programUsPer256 = 0;     // page program time
    double timeScale = 1.0;

    static TimingProfile Zero() { return {}; }
    // Figures of a typical part on a USB 2.0 full-speed link (see SimDevice.cpp).
    static TimingProfile Realistic(double timeScale = 1.0);
};

// Fault injection; every field off by default.
struct FaultConfig {
    uint8_t failSubCommand = 0;   // fail the Nth command with this sub-command ...
    int failNth = 0;              // ... (1-based; 0 = off) with CHECK CONDITION
    bool crcByteSwap = false;     // answer GetCrc16 / LoaderGetCrc16 with the bytes swapped
    int flipBitInWriteNth = 0;    // flip one bit of the data of the Nth write command (WritePage/LoaderWrite)
    int dropAfterCommands = 0;    // after this many commands the device is off the bus (0 = off)
    int timeoutNth = 0;           // the Nth command (any) times out
};

enum class Personality { DownloadMode, PcMode };

struct PinAssignment {
    int32_t port = 1;  // 0 pa, 1 pb, 2 pc, 3 pd
    int32_t pin = 0;
};

struct SimDeviceConfig {
    Personality personality = Personality::DownloadMode;
    std::string vendor = "BRVNTIS ";               // padded as real devices pad them
    std::string product = "DEVICE          ";
    uint32_t norSize = 4u << 20;
    uint32_t exFlashSize = 4u << 20;
    uint32_t exFlashId = 0xEF4016;                // 24-bit identity of the external part
    uint32_t norFlashId = 0x1640EF;               // answered by ReadFlashId
    uint32_t chipVersion = 0x00010009;
    // How the external flash is wired: CS, CLK, MOSI, MISO (default PB5, PB6, PB7, PB8).
    std::array<PinAssignment, 4> exFlashWiring{{{1, 5}, {1, 6}, {1, 7}, {1, 8}}};
    uint32_t pcUpdateAreaSize = 4u << 20;
    TimingProfile timing;
    FaultConfig faults;

    static SimDeviceConfig PcMode();  // product "COMP_AUDIO", PC-mode firmware
};

class SimDevice {
public:
    explicit SimDevice(SimDeviceConfig config = {});

    // Handles one command block exactly as the device would; thread-safe.
    TransferResult HandleCommand(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length);

    const SimDeviceConfig& config() const { return config_; }
    void SetFaults(const FaultConfig& faults);
    void SetTiming(const TimingProfile& timing);

    // Inspection, for tests and dumps.
    std::vector<uint8_t> ReadNor(uint32_t addr, uint32_t length) const;
    std::vector<uint8_t> ReadExFlash(uint32_t addr, uint32_t length) const;
    std::vector<uint8_t> ReadPcUpdateArea(uint32_t addr, uint32_t length) const;
    void WriteNorRaw(uint32_t addr, const std::vector<uint8_t>& bytes);  // test setup, no NOR rules
    bool offBus() const;
    int resetCount() const;
    int commandCount() const;
    bool initialized() const;
    bool spiLoaderRunning() const;
    uint16_t key() const;
    bool keySet() const;

    // Flash contents to and from files (size must match; a missing file leaves the flash erased).
    bool LoadNor(const std::filesystem::path& file);
    bool SaveNor(const std::filesystem::path& file) const;
    bool LoadExFlash(const std::filesystem::path& file);
    bool SaveExFlash(const std::filesystem::path& file) const;

private:
    struct State;
    SimDeviceConfig config_;
    mutable std::mutex mutex_;
    std::shared_ptr<State> state_;
};

// Stand-in device programs that the simulated chip accepts (never sent to real hardware).
std::vector<uint8_t> StandInSpiLoader();    // pin block at 0..31 defaults to PB5..PB8
std::vector<uint8_t> StandInResetProgram(); // 256-byte header, then the payload
// Writes spi.bin and reset.bin into `dir` (created when missing). False on I/O failure.
bool WriteStandInPrograms(const std::filesystem::path& dir);

}  // namespace brev::sim
