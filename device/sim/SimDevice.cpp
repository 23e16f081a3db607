#include "device/sim/SimDevice.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

#include "base/Bytes.h"
#include "device/CommandSet.h"
#include "device/sim/SparseFlash.h"
#include "device/sim/StandInPrograms.h"
#include "image/Crc16.h"

namespace brev::sim {

// Realistic figures, for demos and benchmarks:
//  - 0.5 ms per command: a bulk-only mass-storage command, data and status phase on USB 2.0
//    high speed take a few 125 us microframes, plus the OS pass-through round trip.
//  - 20 bytes/us: the payload rate such devices reach on a high-speed link (~20 MB/s).
//  - 45 ms / 150 ms / 250 ms / 2 s for 4 KiB, 32 KiB, 64 KiB and chip erase and 0.7 ms per
//    256-byte page program: the typical (not maximum) figures of 3 V serial NOR datasheets.
//  - 10 bytes/us: the chip reading its flash and checksumming it in software.
TimingProfile TimingProfile::Realistic(double timeScale) {
    TimingProfile t;
    t.perCommandUs = 500;
    t.transferBytesPerUs = 20;
    t.erase4kUs = 45'000;
    t.erase32kUs = 150'000;
    t.erase64kUs = 250'000;
    t.eraseChipUs = 2'000'000;
    t.programUsPer256 = 700;
    t.crcBytesPerUs = 10;
    // A reset chip re-enumerates: the host sees it leave and, after its boot and the USB
    // reset and enumeration, arrive again.
    t.rebootUs = 300'000;
    t.timeScale = timeScale;
    return t;
}

SimDeviceConfig SimDeviceConfig::PcMode() {
    SimDeviceConfig c;
    c.personality = Personality::PcMode;
    c.product = "COMP_AUDIO      ";
    return c;
}

namespace {

constexpr uint32_t kPage = 256;
constexpr uint32_t k4K = 0x1000, k32K = 0x8000, k64K = 0x10000;

bool InRange(uint64_t addr, uint64_t length, uint64_t size) { return addr <= size && length <= size - addr; }

bool Zero(const uint8_t* cdb, int from, int to) {  // bytes [from, to)
    return std::all_of(cdb + from, cdb + to, [](uint8_t b) { return b == 0; });
}

TransferResult Good() { return {}; }

TransferResult Check(uint8_t senseKey, uint8_t asc, uint8_t ascq = 0) {
    TransferResult r;
    r.status = TransferStatus::CheckCondition;
    r.scsiStatus = 0x02;
    r.senseKey = senseKey;
    r.asc = asc;
    r.ascq = ascq;
    return r;
}

TransferResult Status(TransferStatus s) {
    TransferResult r;
    r.status = s;
    return r;
}

// Sense codes as a mass-storage firmware would report them.
TransferResult InvalidCommand() { return Check(0x05, 0x20); }
TransferResult InvalidField() { return Check(0x05, 0x24); }
TransferResult OutOfRange() { return Check(0x05, 0x21); }
TransferResult SequenceError() { return Check(0x05, 0x2C); }
TransferResult NeedsInit() { return Check(0x02, 0x04, 0x02); }
TransferResult InjectedFailure() { return Check(0x04, 0x44); }

TransferResult Refused(FaultConfig::Refusal how) {
    TransferResult r;
    if (how == FaultConfig::Refusal::DeviceBusy) {
        r.status = TransferStatus::CheckCondition;
        r.scsiStatus = 0x08;  // BUSY: no sense data comes with it
        return r;
    }
    r.status = TransferStatus::OsError;
    const std::errc code = how == FaultConfig::Refusal::Permission    ? std::errc::permission_denied
                           : how == FaultConfig::Refusal::Interrupted ? std::errc::interrupted
                                                                      : std::errc::device_or_resource_busy;
    r.osError = static_cast<int>(code);
    return r;
}

void EraseUnit(SparseFlash& flash, uint32_t addr, uint32_t unit) {
    const uint32_t base = addr & ~(unit - 1);
    flash.Erase(base, uint32_t(std::min<uint64_t>(uint64_t(base) + unit, flash.size()) - base));
}

uint32_t PagesTouched(uint32_t addr, uint32_t length) {
    if (length == 0) return 0;
    return uint32_t((uint64_t(addr) + length - 1) / kPage - addr / kPage + 1);
}

std::vector<uint8_t> Slice(const SparseFlash& flash, uint32_t addr, uint32_t length) {
    if (addr >= flash.size()) return {};
    std::vector<uint8_t> out(std::min(length, flash.size() - addr));
    flash.Read(addr, uint32_t(out.size()), out.data());
    return out;
}

enum class Loaded { Missing, Ok, Failed };

// Reads a whole memory image of exactly `size` bytes.
Loaded LoadFile(const std::filesystem::path& file, std::size_t size, std::vector<uint8_t>& bytes) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return ec ? Loaded::Failed : Loaded::Missing;
    const auto fileSize = std::filesystem::file_size(file, ec);
    if (ec || fileSize != size) return Loaded::Failed;
    bytes.resize(size);
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
    if (!in || in.gcount() != std::streamsize(size)) return Loaded::Failed;
    return Loaded::Ok;
}

bool SaveFile(const std::filesystem::path& file, const std::vector<uint8_t>& mem) {
    auto tmp = file;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(mem.data()), std::streamsize(mem.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(tmp, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    if (ec) std::filesystem::remove(tmp, ec);
    return !ec;
}

// What a command looks like on the wire.
struct Request {
    const uint8_t* cdb;
    DataDirection dir;
    uint8_t* data;
    uint32_t length;

    uint8_t sub() const { return cdb[1]; }
    uint32_t len() const { return GetLe32(cdb + 2); }
    uint32_t addr() const { return GetLe32(cdb + 6); }

    // No data phase (the host sends these as data-out of length 0).
    bool noData() const { return length == 0 && dir != DataDirection::In; }
    // Exactly `n` bytes in the given direction; a zero length may come without a direction.
    bool phase(DataDirection want, uint32_t n) const {
        if (n == 0) return length == 0 && (dir == DataDirection::None || dir == want);
        return dir == want && length == n && data != nullptr;
    }
};

}  // namespace

enum class PcUpdate { Idle, Erased, Writing };

struct SimDevice::State {
    SparseFlash nor, exFlash, pcArea;
    std::vector<uint8_t> ram;
    bool initialized = false;
    std::array<uint8_t, 5> initBytes{};
    bool loaderRunning = false;
    std::array<PinAssignment, 4> loaderPins{};
    bool exReachable = false;
    PcUpdate pc = PcUpdate::Idle;
    uint16_t key = 0;
    bool keySet = false;
    int resets = 0;
    int commands = 0;
    bool offBus = false;
    std::function<void()> offBusListener;
    Personality personality = Personality::DownloadMode;
    bool rebootPending = false;  // a reset ran: off the bus once the command is answered
    std::function<void(std::chrono::microseconds)> rebootListener;

    FaultConfig faults;
    int faultCommands = 0, faultSubCommands = 0, faultWrites = 0, faultRefusals = 0, faultOpens = 0;
    TimingProfile timing;

    bool recording = false;
    std::vector<RecordedCommand> record;

    void Reset() {
        initialized = false;
        loaderRunning = false;
        exReachable = false;
        std::fill(ram.begin(), ram.end(), 0);
    }
};

namespace {

// Runs one validated-or-not command against the state; adds the time it takes to `us`.
class Executor {
public:
    Executor(SimDevice::State& s, const SimDeviceConfig& c, const Request& r, double& us)
        : s_(s), c_(c), r_(r), t_(s.timing), us_(us) {}

    TransferResult Run() {
        if ((r_.cdb[0] & 0xC0) != 0xC0) return InvalidCommand();
        if (!Zero(r_.cdb, 10, int(kCdbSize))) return InvalidField();
        const bool pc = s_.personality == Personality::PcMode;
        switch (r_.sub()) {
            case cmd::ReadFlashId:
            case cmd::WriteByte:
            case cmd::WritePage:
            case cmd::Erase4K:
            case cmd::Erase32K:
            case cmd::Erase64K:
            case cmd::EraseChip:
            case cmd::Read:
            case cmd::FastRead:
            case cmd::GetCrc16:
                return pc ? InvalidCommand() : Flash();
            case cmd::WriteRam:
                return pc ? InvalidCommand() : WriteRam();
            case cmd::Execute:
                return pc ? InvalidCommand() : Execute();
            case cmd::Init:
                return pc ? InvalidCommand() : Init();
            case cmd::SystemReset:
                if (pc) return InvalidCommand();
                if (!r_.noData() || !Zero(r_.cdb, 2, 10)) return InvalidField();
                Rebooting();
                return Good();
            case cmd::ReadChipVer:
                if (pc) return InvalidCommand();
                if (!r_.phase(DataDirection::In, 4) || r_.len() != 4 || r_.addr() != 0) return InvalidField();
                PutLe32(r_.data, c_.chipVersion);
                return Good();
            case cmd::SetKey:
                return pc ? InvalidCommand() : SetKey();
            case cmd::LoaderReadFlashId:
            case cmd::LoaderErase4K:
                return pc ? InvalidCommand() : Loader();
            case cmd::LoaderWrite:
            case cmd::LoaderGetCrc16:
                return pc ? PcUpdateData() : Loader();
            case cmd::PcStartErase:
            case cmd::PcStartWrite:
                return pc ? PcStart() : InvalidCommand();
            default:
                return InvalidCommand();
        }
    }

private:
    // The chip resets and starts its firmware; on a bus, and given a boot time (the programs'
    // profiles give one; a bare model has none and stays), it leaves and arrives again.
    void Rebooting() {
        ++s_.resets;
        s_.Reset();
        s_.rebootPending = s_.rebootListener && s_.timing.rebootUs > 0;
    }

    void Erased(double unitUs) { us_ += unitUs; }
    void Programmed(uint32_t addr, uint32_t length) {
        us_ += PagesTouched(addr, length) * t_.programUsPer256;
    }
    void Checksummed(uint32_t length) {
        if (t_.crcBytesPerUs > 0) us_ += length / t_.crcBytesPerUs;
    }

    // The data of a write, with the injected bit flip applied to a copy.
    const uint8_t* WriteData() {
        ++s_.faultWrites;
        if (s_.faults.flipBitInWriteNth <= 0 || s_.faultWrites != s_.faults.flipBitInWriteNth ||
            r_.length == 0)
            return r_.data;
        flipped_.assign(r_.data, r_.data + r_.length);
        flipped_[r_.length / 2] ^= 0x08;
        return flipped_.data();
    }

    void AnswerCrc(uint16_t crc) {
        if (s_.faults.crcByteSwap) crc = uint16_t(crc << 8 | crc >> 8);
        PutLe16(r_.data, crc);
    }

    TransferResult Flash() {
        const uint8_t sub = r_.sub();
        // The shape of the block first, then the state, then the range.
        bool shape = false;
        switch (sub) {
            case cmd::ReadFlashId:
                shape = r_.phase(DataDirection::In, 4) && r_.len() == 4 && r_.addr() == 0;
                break;
            case cmd::WriteByte:
            case cmd::WritePage:
                shape = r_.phase(DataDirection::Out, r_.len());
                break;
            case cmd::Erase4K:
            case cmd::Erase32K:
            case cmd::Erase64K:
                shape = r_.noData() && r_.len() == 0;
                break;
            case cmd::EraseChip:
                shape = r_.noData() && Zero(r_.cdb, 2, 10);
                break;
            case cmd::Read:
            case cmd::FastRead:
                shape = r_.phase(DataDirection::In, r_.len());
                break;
            case cmd::GetCrc16:
                shape = r_.phase(DataDirection::In, 2);
                break;
            default:
                break;
        }
        if (!shape) return InvalidField();
        if (!s_.initialized) return NeedsInit();

        auto& nor = s_.nor;
        const uint32_t addr = r_.addr(), len = r_.len();
        switch (sub) {
            case cmd::ReadFlashId:
                PutLe32(r_.data, c_.norFlashId);
                return Good();
            case cmd::WriteByte:
            case cmd::WritePage:
                if (!nor.InRange(addr, len)) return OutOfRange();
                if (len > 0) nor.Program(addr, WriteData(), len);
                Programmed(addr, len);
                return Good();
            case cmd::Erase4K:
            case cmd::Erase32K:
            case cmd::Erase64K: {
                if (addr >= nor.size()) return OutOfRange();
                const uint32_t unit = sub == cmd::Erase4K ? k4K : sub == cmd::Erase32K ? k32K : k64K;
                EraseUnit(nor, addr, unit);
                Erased(sub == cmd::Erase4K    ? t_.erase4kUs
                       : sub == cmd::Erase32K ? t_.erase32kUs
                                              : t_.erase64kUs);
                return Good();
            }
            case cmd::EraseChip:
                nor.Erase(0, nor.size());
                Erased(t_.eraseChipUs);
                return Good();
            case cmd::Read:
            case cmd::FastRead:
                if (!nor.InRange(addr, len)) return OutOfRange();
                nor.Read(addr, len, r_.data);
                return Good();
            case cmd::GetCrc16:
                if (!nor.InRange(addr, len)) return OutOfRange();
                AnswerCrc(nor.Crc(addr, len));
                Checksummed(len);
                return Good();
            default:
                return InvalidCommand();
        }
    }

    TransferResult Init() {
        if (!r_.noData() || !Zero(r_.cdb, 7, 10)) return InvalidField();
        std::copy_n(r_.cdb + 2, 5, s_.initBytes.begin());
        s_.initialized = true;
        return Good();
    }

    TransferResult SetKey() {
        const uint8_t set = r_.cdb[2];
        if (!r_.noData() || set > 1 || !Zero(r_.cdb, 5, 10)) return InvalidField();
        if (set == 0 && !Zero(r_.cdb, 3, 5)) return InvalidField();
        s_.keySet = set == 1;
        s_.key = set == 1 ? GetLe16(r_.cdb + 3) : 0;
        return Good();
    }

    TransferResult WriteRam() {
        if (!r_.phase(DataDirection::Out, r_.len())) return InvalidField();
        const uint32_t addr = r_.addr(), len = r_.len();
        if (addr < kSimRamBase || !InRange(addr - kSimRamBase, len, s_.ram.size())) return OutOfRange();
        std::copy_n(r_.data, len, s_.ram.begin() + (addr - kSimRamBase));
        return Good();
    }

    TransferResult Execute() {
        if (!r_.noData() || r_.len() != 0) return InvalidField();
        const uint32_t addr = r_.addr();
        // The entry is given with bit 0 set (the chip's compact instruction set).
        if ((addr & 1u) == 0) return InvalidField();
        const uint32_t entry = addr & ~1u;
        if (entry < kSimRamBase || entry - kSimRamBase >= s_.ram.size()) return OutOfRange();
        const std::size_t offset = entry - kSimRamBase;
        const auto kind = standin::Recognise(s_.ram.data() + offset, s_.ram.size() - offset, entry);
        if (!kind) return InvalidField();  // not a program this chip can run
        if (*kind == standin::Kind::Reset) {
            Rebooting();
            return Good();
        }
        if (offset < standin::kSpiLoaderEntryOffset) return InvalidField();
        const uint8_t* pins = s_.ram.data() + offset - standin::kSpiLoaderEntryOffset;
        for (int i = 0; i < 4; ++i)
            s_.loaderPins[i] = {int32_t(GetLe32(pins + 8 * i)), int32_t(GetLe32(pins + 8 * i + 4))};
        s_.loaderRunning = true;
        s_.exReachable = s_.loaderPins == c_.exFlashWiring;
        return Good();
    }

    // Commands served by the SPI loader running in RAM.
    TransferResult Loader() {
        const uint8_t sub = r_.sub();
        bool shape = false;
        switch (sub) {
            case cmd::LoaderReadFlashId:
                shape = r_.phase(DataDirection::In, 4) && r_.len() == 4 && r_.addr() == 0;
                break;
            case cmd::LoaderErase4K:
                shape = r_.noData() && r_.len() == 0;
                break;
            case cmd::LoaderWrite:
                shape = r_.phase(DataDirection::Out, r_.len());
                break;
            case cmd::LoaderGetCrc16:
                shape = r_.phase(DataDirection::In, 2);
                break;
            default:
                break;
        }
        if (!shape) return InvalidField();
        if (!s_.loaderRunning) return SequenceError();

        auto& ex = s_.exFlash;
        const uint32_t addr = r_.addr(), len = r_.len();
        // Without a flash on the configured pins, MISO floats high: every read is all ones
        // and erases and programs go nowhere.
        const bool wired = s_.exReachable;
        switch (sub) {
            case cmd::LoaderReadFlashId:
                PutLe32(r_.data, wired ? (c_.exFlashId & 0xFFFFFFu) << 8 | kLoaderIdLowByte : 0xFFFFFFFFu);
                return Good();
            case cmd::LoaderErase4K:
                if (addr >= ex.size()) return OutOfRange();
                if (wired) EraseUnit(ex, addr, k4K);
                Erased(t_.erase4kUs);
                return Good();
            case cmd::LoaderWrite: {
                if (!ex.InRange(addr, len)) return OutOfRange();
                const uint8_t* data = len > 0 ? WriteData() : nullptr;
                if (wired && len > 0) ex.Program(addr, data, len);
                Programmed(addr, len);
                return Good();
            }
            case cmd::LoaderGetCrc16: {
                if (!ex.InRange(addr, len)) return OutOfRange();
                if (wired) {
                    AnswerCrc(ex.Crc(addr, len));
                } else {
                    uint16_t crc = kCrc16CcittInit;
                    uint8_t block[256];
                    std::fill(std::begin(block), std::end(block), uint8_t(0xFF));
                    for (uint32_t done = 0; done < len;) {
                        const uint32_t n = std::min<uint32_t>(len - done, sizeof block);
                        crc = Crc16CcittUpdate(crc, block, n);
                        done += n;
                    }
                    AnswerCrc(crc);
                }
                Checksummed(len);
                return Good();
            }
            default:
                return InvalidCommand();
        }
    }

    // The PC-mode firmware's update commands: erase, then write, then data pages.
    TransferResult PcStart() {
        if (!r_.noData() || !Zero(r_.cdb, 2, 10)) return InvalidField();
        if (r_.sub() == cmd::PcStartErase) {
            s_.pcArea.Erase(0, s_.pcArea.size());
            s_.pc = PcUpdate::Erased;
            Erased(t_.eraseChipUs);
            return Good();
        }
        if (s_.pc != PcUpdate::Erased) return SequenceError();
        s_.pc = PcUpdate::Writing;
        return Good();
    }

    TransferResult PcUpdateData() {
        const bool write = r_.sub() == cmd::LoaderWrite;
        const bool shape = write ? r_.phase(DataDirection::Out, r_.len()) : r_.phase(DataDirection::In, 2);
        if (!shape) return InvalidField();
        if (s_.pc != PcUpdate::Writing) return SequenceError();
        auto& area = s_.pcArea;
        const uint32_t addr = r_.addr(), len = r_.len();
        if (!area.InRange(addr, len)) return OutOfRange();
        if (write) {
            if (len > 0) area.Program(addr, WriteData(), len);
            Programmed(addr, len);
        } else {
            AnswerCrc(area.Crc(addr, len));
            Checksummed(len);
        }
        return Good();
    }

    SimDevice::State& s_;
    const SimDeviceConfig& c_;
    const Request& r_;
    const TimingProfile& t_;
    double& us_;
    std::vector<uint8_t> flipped_;
};

}  // namespace

SimDevice::SimDevice(SimDeviceConfig config) : config_(std::move(config)), state_(std::make_shared<State>()) {
    auto& s = *state_;
    s.nor = SparseFlash(config_.norSize);
    s.exFlash = SparseFlash(config_.exFlashSize);
    s.pcArea = SparseFlash(config_.pcUpdateAreaSize);
    s.ram.assign(kSimRamSize, 0);
    s.faults = config_.faults;
    s.timing = config_.timing;
    s.personality = config_.personality;
}

TransferResult SimDevice::HandleCommand(const uint8_t* cdb, DataDirection dir, uint8_t* data,
                                        uint32_t length) {
    return HandleCommand(cdb, dir, data, length, 0);
}

TransferResult SimDevice::HandleCommand(const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length,
                                        uint32_t timeoutMs) {
    std::lock_guard command(commandMutex_);
    TransferResult result;
    double us = 0;
    double scale = 1.0;
    std::function<void()> dropped;
    std::function<void(std::chrono::microseconds)> rebooted;
    std::chrono::microseconds rebootAfter{0};
    {
        std::lock_guard lock(mutex_);
        auto& s = *state_;
        if (s.offBus) return Status(TransferStatus::NoDevice);
        ++s.commands;
        ++s.faultCommands;
        const auto& f = s.faults;
        const uint8_t sub = cdb != nullptr ? cdb[1] : 0;
        bool executed = false;
        if (f.timeoutNth > 0 && s.faultCommands == f.timeoutNth) {
            result = Status(TransferStatus::Timeout);
        } else if (f.refusal != FaultConfig::Refusal::None && cdb != nullptr && sub == f.refuseSubCommand &&
                   s.faultRefusals++ == 0) {
            result = Refused(f.refusal);
        } else if (cdb == nullptr) {
            result = InvalidField();
        } else {
            if (f.failNth > 0 && sub == f.failSubCommand && ++s.faultSubCommands == f.failNth) {
                result = InjectedFailure();
            } else {
                const Request request{cdb, dir, data, length};
                result = Executor(s, config_, request, us).Run();
                executed = true;
                if (f.shortIn && sub == f.shortSubCommand && result.ok() && dir == DataDirection::In &&
                    length > f.shortBytes) {
                    // The rest never came: the host's buffer keeps the zeros the kernel put there.
                    std::fill(data + f.shortBytes, data + length, uint8_t{0});
                    result.residual = length - f.shortBytes;
                }
            }
            const auto& t = s.timing;
            us += t.perCommandUs;
            if (executed && t.transferBytesPerUs > 0) us += length / t.transferBytesPerUs;
            scale = t.timeScale;
        }
        if (s.recording) {
            RecordedCommand rec;
            if (cdb != nullptr) std::copy_n(cdb, kCdbSize, rec.cdb.begin());
            rec.dir = dir;
            rec.length = length;
            rec.status = result.status;
            s.record.push_back(rec);
        }
        if (f.dropAfterCommands > 0 && s.faultCommands >= f.dropAfterCommands) {
            s.offBus = true;
            dropped = std::move(s.offBusListener);
            s.offBusListener = nullptr;
        } else if (s.rebootPending) {
            s.rebootPending = false;
            s.offBus = true;
            if (config_.resetIntoPcMode) s.personality = Personality::PcMode;
            rebootAfter = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::duration<double, std::micro>(s.timing.rebootUs * s.timing.timeScale));
            rebooted = std::move(s.rebootListener);
            s.rebootListener = nullptr;
        }
    }
    // The time passes outside the state lock, on this thread only: other devices are not held up.
    const double totalUs = us * scale;
    if (timeoutMs > 0 && totalUs > timeoutMs * 1000.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        result = Status(TransferStatus::Timeout);
    } else if (totalUs > 0) {
        // The device is busy until its own deadline. Where the system timer counts whole
        // milliseconds a short sleep returns at once; the time it missed is then owed and
        // waited for by the next command instead of being lost.
        const auto now = std::chrono::steady_clock::now();
        busyUntil_ =
            std::max(now, busyUntil_) + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                            std::chrono::duration<double, std::micro>(totalUs));
        std::this_thread::sleep_for(busyUntil_ - now);
    }
    if (dropped) dropped();
    if (rebooted) rebooted(rebootAfter);
    return result;
}

void SimDevice::SetFaults(const FaultConfig& faults) {
    std::lock_guard lock(mutex_);
    auto& s = *state_;
    s.faults = faults;
    s.faultCommands = s.faultSubCommands = s.faultWrites = s.faultRefusals = s.faultOpens = 0;
}

OpenError SimDevice::Open() {
    std::lock_guard lock(mutex_);
    auto& s = *state_;
    const int open = ++s.faultOpens;
    return s.faults.refuseOpenFrom > 0 && open >= s.faults.refuseOpenFrom ? s.faults.openError
                                                                          : OpenError::None;
}

void SimDevice::SetTiming(const TimingProfile& timing) {
    std::lock_guard lock(mutex_);
    state_->timing = timing;
}

FaultConfig SimDevice::faults() const {
    std::lock_guard lock(mutex_);
    return state_->faults;
}

TimingProfile SimDevice::timing() const {
    std::lock_guard lock(mutex_);
    return state_->timing;
}

void SimDevice::PowerCycle() {
    std::lock_guard lock(mutex_);
    auto& s = *state_;
    s.Reset();
    s.pc = PcUpdate::Idle;
    s.offBus = false;
    s.faultCommands = s.faultSubCommands = s.faultWrites = s.faultRefusals = s.faultOpens = 0;
}

void SimDevice::SetOffBusListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    state_->offBusListener = std::move(listener);
}

void SimDevice::SetRebootListener(std::function<void(std::chrono::microseconds)> listener) {
    std::lock_guard lock(mutex_);
    state_->rebootListener = std::move(listener);
}

void SimDevice::RebootDone() { PowerCycle(); }

VolumeIdentity SimDevice::identity() const {
    std::lock_guard lock(mutex_);
    const bool pc = state_->personality == Personality::PcMode;
    // The firmware a reset started reports itself as the PC-mode firmware does.
    const bool switched = pc && config_.personality != Personality::PcMode;
    return {BusType::Usb, config_.vendor, switched ? SimDeviceConfig::PcMode().product : config_.product};
}

Personality SimDevice::personality() const {
    std::lock_guard lock(mutex_);
    return state_->personality;
}

std::vector<uint8_t> SimDevice::ReadNor(uint32_t addr, uint32_t length) const {
    std::lock_guard lock(mutex_);
    return Slice(state_->nor, addr, length);
}

std::vector<uint8_t> SimDevice::ReadExFlash(uint32_t addr, uint32_t length) const {
    std::lock_guard lock(mutex_);
    return Slice(state_->exFlash, addr, length);
}

std::vector<uint8_t> SimDevice::ReadPcUpdateArea(uint32_t addr, uint32_t length) const {
    std::lock_guard lock(mutex_);
    return Slice(state_->pcArea, addr, length);
}

bool SimDevice::WriteNorRaw(uint32_t addr, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    auto& nor = state_->nor;
    if (!nor.InRange(addr, bytes.size())) return false;
    nor.Write(addr, bytes.data(), uint32_t(bytes.size()));
    return true;
}

bool SimDevice::WriteExFlashRaw(uint32_t addr, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    auto& ex = state_->exFlash;
    if (!ex.InRange(addr, bytes.size())) return false;
    ex.Write(addr, bytes.data(), uint32_t(bytes.size()));
    return true;
}

bool SimDevice::offBus() const {
    std::lock_guard lock(mutex_);
    return state_->offBus;
}

int SimDevice::resetCount() const {
    std::lock_guard lock(mutex_);
    return state_->resets;
}

int SimDevice::commandCount() const {
    std::lock_guard lock(mutex_);
    return state_->commands;
}

bool SimDevice::initialized() const {
    std::lock_guard lock(mutex_);
    return state_->initialized;
}

std::array<uint8_t, 5> SimDevice::initBytes() const {
    std::lock_guard lock(mutex_);
    return state_->initBytes;
}

bool SimDevice::spiLoaderRunning() const {
    std::lock_guard lock(mutex_);
    return state_->loaderRunning;
}

bool SimDevice::exFlashReachable() const {
    std::lock_guard lock(mutex_);
    return state_->exReachable;
}

std::array<PinAssignment, 4> SimDevice::loaderPins() const {
    std::lock_guard lock(mutex_);
    return state_->loaderPins;
}

uint16_t SimDevice::key() const {
    std::lock_guard lock(mutex_);
    return state_->key;
}

bool SimDevice::keySet() const {
    std::lock_guard lock(mutex_);
    return state_->keySet;
}

void SimDevice::SetRecording(bool on) {
    std::lock_guard lock(mutex_);
    state_->recording = on;
    state_->record.clear();
}

std::vector<RecordedCommand> SimDevice::Recorded() const {
    std::lock_guard lock(mutex_);
    return state_->record;
}

bool SimDevice::LoadNor(const std::filesystem::path& file) {
    std::vector<uint8_t> bytes;
    const auto loaded = LoadFile(file, config_.norSize, bytes);
    if (loaded != Loaded::Ok) return loaded == Loaded::Missing;
    std::lock_guard lock(mutex_);
    state_->nor.Restore(bytes);
    return true;
}

bool SimDevice::SaveNor(const std::filesystem::path& file) const {
    std::vector<uint8_t> copy;
    {
        std::lock_guard lock(mutex_);
        copy = state_->nor.Dump();
    }
    return SaveFile(file, copy);
}

bool SimDevice::LoadExFlash(const std::filesystem::path& file) {
    std::vector<uint8_t> bytes;
    const auto loaded = LoadFile(file, config_.exFlashSize, bytes);
    if (loaded != Loaded::Ok) return loaded == Loaded::Missing;
    std::lock_guard lock(mutex_);
    state_->exFlash.Restore(bytes);
    return true;
}

bool SimDevice::SaveExFlash(const std::filesystem::path& file) const {
    std::vector<uint8_t> copy;
    {
        std::lock_guard lock(mutex_);
        copy = state_->exFlash.Dump();
    }
    return SaveFile(file, copy);
}

}  // namespace brev::sim
