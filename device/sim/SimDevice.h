// The simulated target device: a model of the chip as seen through its commands.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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
    double programUsPer256 = 0;  // page program time, per 256-byte page touched
    double timeScale = 1.0;
    double crcBytesPerUs = 0;  // rate at which the device checksums its flash (0 = instantaneous)
    double rebootUs = 0;       // off the bus after a reset until it arrives again

    static TimingProfile Zero() { return {}; }
    // Figures of a typical serial NOR part on a USB 2.0 high-speed link (see SimDevice.cpp).
    static TimingProfile Realistic(double timeScale = 1.0);
};

// Fault injection; every field off by default. Counting starts when the faults are set.
struct FaultConfig {
    uint8_t failSubCommand = 0;  // fail the Nth command with this sub-command ...
    int failNth = 0;             // ... (1-based; 0 = off) with CHECK CONDITION, without executing it
    bool crcByteSwap = false;    // answer GetCrc16 / LoaderGetCrc16 with the bytes swapped
    int flipBitInWriteNth = 0;  // flip one bit of the data of the Nth write (WriteByte/WritePage/LoaderWrite)
    int dropAfterCommands = 0;  // after this many commands the device is off the bus (0 = off)
    int timeoutNth = 0;         // the Nth command (any) times out without being executed
    // Every data-in of this sub-command moves only `shortBytes` bytes (when it asks more): the
    // command runs, the transfer is GOOD with a residual and the buffer's tail zero-filled, as
    // the kernel leaves it.
    bool shortIn = false;
    uint8_t shortSubCommand = 0;
    uint32_t shortBytes = 0;
    // The first command with this sub-command is refused on its way, without being executed: by
    // the system (permission denied, interrupted by a signal, busy; POSIX codes) or by the device's
    // BUSY status.
    enum class Refusal { None, Permission, Interrupted, SystemBusy, DeviceBusy };
    Refusal refusal = Refusal::None;
    uint8_t refuseSubCommand = 0;
    // Opening the volume fails with `openError` from the Nth open on (1-based; 0 = off).
    int refuseOpenFrom = 0;
    OpenError openError = OpenError::Other;
};

enum class Personality { DownloadMode, PcMode };

struct PinAssignment {
    int32_t port = 1;  // 0 pa, 1 pb, 2 pc, 3 pd
    int32_t pin = 0;
    bool operator==(const PinAssignment&) const = default;
};

struct SimDeviceConfig {
    Personality personality = Personality::DownloadMode;
    std::string vendor = "BRVNTIS ";  // padded as real devices pad them
    std::string product = "DEVICE          ";
    uint32_t norSize = 4u << 20;
    uint32_t exFlashSize = 4u << 20;
    uint32_t exFlashId = 0xEF4016;   // 24-bit identity of the external part
    uint32_t norFlashId = 0x1640EF;  // answered by ReadFlashId
    uint32_t chipVersion = 0x00010009;
    // How the external flash is wired: CS, CLK, MOSI, MISO (default PB5, PB6, PB7, PB8).
    std::array<PinAssignment, 4> exFlashWiring{{{1, 5}, {1, 6}, {1, 7}, {1, 8}}};
    uint32_t pcUpdateAreaSize = 4u << 20;
    TimingProfile timing;
    FaultConfig faults;
    // The largest data phase one request may carry on the device's path (the host's USB storage
    // driver), 0 for none; a longer request is refused before it reaches the device. The programs
    // simulate kDefaultMaxTransfer unless told otherwise.
    uint32_t maxTransfer = 0;
    // After SystemReset or the reset program the chip starts its firmware: in PC mode when set.
    bool resetIntoPcMode = false;

    // What usb-storage takes per request on USB 2.0.
    static constexpr uint32_t kDefaultMaxTransfer = 120 * 1024;
    static SimDeviceConfig PcMode();  // product "COMP_AUDIO", PC-mode firmware
};

// Low byte of the LoaderReadFlashId answer; the identity sits in bits 8..31.
constexpr uint8_t kLoaderIdLowByte = 0xA5;
// RAM the chip accepts WriteRam into.
constexpr uint32_t kSimRamBase = 0x00800000;
constexpr uint32_t kSimRamSize = 0x00040000;

// One command as the device received it (recording is off by default).
struct RecordedCommand {
    std::array<uint8_t, kCdbSize> cdb{};
    DataDirection dir = DataDirection::None;
    uint32_t length = 0;
    TransferStatus status = TransferStatus::Ok;
};

class SimDevice {
public:
    explicit SimDevice(SimDeviceConfig config = {});

    // Handles one command block exactly as the device would; thread-safe, one command at a
    // time per device. The simulated duration is slept on the calling thread; when it exceeds
    // `timeoutMs` (0 = no limit) the command still runs but the caller gets Timeout after timeoutMs.
    TransferResult HandleCommand(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length);
    TransferResult HandleCommand(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                                 uint32_t timeoutMs);

    // The configuration given at construction (faults and timing as they were then).
    const SimDeviceConfig& config() const { return config_; }
    void SetFaults(const FaultConfig& faults);  // also restarts the fault counters
    void SetTiming(const TimingProfile& timing);
    FaultConfig faults() const;
    TimingProfile timing() const;

    // Power loss and power-on (unplug, plug): RAM programs, Init and PC-mode update state are
    // lost, the device is back on the bus, fault counters restart; flash contents and key stay.
    void PowerCycle();
    // Called (on the commanding thread, once) when a fault drops the device off the bus.
    void SetOffBusListener(std::function<void()> listener);
    // Called (on the commanding thread, once) when a reset takes the device off the bus, with
    // how long it stays off before it arrives again (RebootDone brings it back).
    void SetRebootListener(std::function<void(std::chrono::microseconds)> listener);
    // The reset is over: back on the bus, running what the reset started (PowerCycle's state).
    void RebootDone();
    // Vendor and product as the device reports them now (PC-mode firmware after a reset into it).
    VolumeIdentity identity() const;
    // Counts an open of the device's volume: what refuses it (None: it opens).
    OpenError Open();
    Personality personality() const;

    // Inspection, for tests and dumps. Reads are clipped to the memory's size.
    std::vector<uint8_t> ReadNor(uint32_t addr, uint32_t length) const;
    std::vector<uint8_t> ReadExFlash(uint32_t addr, uint32_t length) const;
    std::vector<uint8_t> ReadPcUpdateArea(uint32_t addr, uint32_t length) const;
    bool WriteNorRaw(uint32_t addr, const std::vector<uint8_t>& bytes);      // test setup, no NOR rules
    bool WriteExFlashRaw(uint32_t addr, const std::vector<uint8_t>& bytes);  // false when out of range
    bool offBus() const;
    int resetCount() const;
    int commandCount() const;
    bool initialized() const;
    std::array<uint8_t, 5> initBytes() const;  // the five bus bytes of the last Init
    bool spiLoaderRunning() const;
    bool exFlashReachable() const;                    // loader running with the pins that match the wiring
    std::array<PinAssignment, 4> loaderPins() const;  // as the running loader read them
    uint16_t key() const;
    bool keySet() const;

    void SetRecording(bool on);  // off by default; turning it on clears the record
    std::vector<RecordedCommand> Recorded() const;

    // Flash contents to and from files. The file size must equal the flash size; a missing file
    // loads nothing and returns true; a wrong size or an I/O error returns false and leaves the
    // flash unchanged. Saving writes a temporary file and renames it over the target.
    bool LoadNor(const std::filesystem::path& file);
    bool SaveNor(const std::filesystem::path& file) const;
    bool LoadExFlash(const std::filesystem::path& file);
    bool SaveExFlash(const std::filesystem::path& file) const;

    struct State;

private:
    SimDeviceConfig config_;
    std::mutex commandMutex_;  // one command at a time; held while the command's time passes
    std::chrono::steady_clock::time_point busyUntil_{};  // guarded by commandMutex_
    mutable std::mutex mutex_;                           // guards *state_; never held while sleeping
    std::shared_ptr<State> state_;
};

// Stand-in device programs that the simulated chip accepts (never sent to real hardware).
std::vector<uint8_t> StandInSpiLoader();     // pin block at 0..31 defaults to PB5..PB8
std::vector<uint8_t> StandInResetProgram();  // 256-byte header, then the payload
// Writes spi.bin and reset.bin into `dir` (created when missing). False on I/O failure.
bool WriteStandInPrograms(const std::filesystem::path& dir);

}  // namespace brev::sim
