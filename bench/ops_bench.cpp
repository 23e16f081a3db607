// Download jobs against simulated devices: host overhead beside the simulator's own work,
// scaling over many devices at once, and the memory that concurrent downloads add.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/Bytes.h"
#include "base/Utf8Path.h"
#include "device/CommandSet.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"
#include "image/Crc16.h"
#include "image/ImageChecker.h"
#include "ops/Jobs.h"

namespace {

using namespace brev;

class QuietNotifier : public IJobNotifier {
public:
    void PostProgressPos(const std::string&, int) override {}
    void PostProgressImage(const std::string&, int) override {}
    void PostEnableControls(const std::string&, int) override {}
    void AddTipsText(const std::string&, const std::string&) override {}
    void ShowFileParseError(int) override {}
    void ShowMessageBox(const std::string&, const std::string&) override {}
    void JobFinished(const std::string&, const JobOutcome& outcome) override {
        if (outcome.success) succeeded.fetch_add(1);
    }
    std::atomic<int> succeeded{0};
};

std::vector<uint8_t> RandomData(std::size_t n) {
    std::mt19937 gen(11);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

std::filesystem::path BenchDir() {
    auto dir = std::filesystem::temp_directory_path() / "brev-ops-bench";
    std::filesystem::create_directories(dir);
    return dir;
}

// An image file of `dataBytes` random bytes, written once per size.
std::filesystem::path ImageFile(std::size_t dataBytes) {
    const auto path = BenchDir() / ("image-" + std::to_string(dataBytes) + ".up");
    if (!std::filesystem::exists(path)) WriteUpdateImage(path, RandomData(dataBytes));
    return path;
}

struct Bench {
    std::shared_ptr<IPassThroughBackend> backend;
    QuietNotifier notifier;
    SharedSettings settings;
    CJobRegistry registry;
    JobEnvironment env;
    std::vector<PresentDevice> present;

    explicit Bench(std::shared_ptr<IPassThroughBackend> b, const std::filesystem::path& image)
        : backend(std::move(b)) {
        settings.setDownloadFilePath(PathToUtf8(image));
        env.backend = backend;
        env.notifier = &notifier;
        env.settings = &settings;
        env.registry = &registry;
        env.programFolder = BenchDir();
        env.deviceProgramsDir = BenchDir();
    }
    // Starts a download on every present device and waits for all of them.
    bool DownloadAll() {
        notifier.succeeded = 0;
        for (const auto& d : present) {
            StartRequest r;
            r.deviceName = d.name;
            if (!StartDownloadJob(env, present, r)) return false;
        }
        registry.WaitAll();
        return notifier.succeeded == static_cast<int>(present.size());
    }
};

constexpr std::size_t kOverheadImage = 8u << 20;

// The whole download as the program runs it: image check, thread, file reads, host CRCs, commands.
void BM_Download8MiBZeroLatency(benchmark::State& state) {
    auto bus = std::make_shared<sim::SimBus>();
    sim::SimDeviceConfig config;
    config.norSize = 16u << 20;
    bus->Attach("sim0", std::make_shared<sim::SimDevice>(config));
    Bench bench(std::make_shared<sim::SimBackend>(bus), ImageFile(kOverheadImage));
    bench.present.push_back({"sim0", sim::SimBus::PathFor("sim0"), config.product});
    for (auto _ : state) {
        if (!bench.DownloadAll()) state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOverheadImage));
}
// Process CPU time (all threads) is the fair measure on a shared machine; wall time beside it.
BENCHMARK(BM_Download8MiBZeroLatency)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Download8MiBZeroLatency)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The image check StartDownloadJob runs before a job starts: header, then the data's CRC.
void BM_ImageCheck8MiB(benchmark::State& state) {
    const auto image = ImageFile(kOverheadImage);
    for (auto _ : state) {
        CImageChecker checker;
        if (checker.Check(image) != ImageOk) state.SkipWithError("check failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOverheadImage));
}
BENCHMARK(BM_ImageCheck8MiB)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The job's thread body alone (no image check, no thread start): what the job adds per byte.
void BM_RunDownloadJob8MiBZeroLatency(benchmark::State& state) {
    auto bus = std::make_shared<sim::SimBus>();
    sim::SimDeviceConfig config;
    config.norSize = 16u << 20;
    bus->Attach("sim0", std::make_shared<sim::SimDevice>(config));
    const auto image = ImageFile(kOverheadImage);
    Bench bench(std::make_shared<sim::SimBackend>(bus), image);
    DownloadJob job;
    job.filePath = PathToUtf8(image);
    job.deviceName = "sim0";
    job.devicePath = sim::SimBus::PathFor("sim0");
    // The job gets the CRCs its start-up check took; the check itself is measured above.
    CImageChecker checker;
    if (checker.Check(image) != ImageOk) state.SkipWithError("check failed");
    job.dataOffset = static_cast<int32_t>(checker.parser()->GetHeaderLength());
    job.blockCrcs = checker.parser()->GetBlockCrcs();
    for (auto _ : state) {
        bench.notifier.succeeded = 0;
        RunDownloadJob(bench.env, job);
        if (bench.notifier.succeeded != 1) state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOverheadImage));
}
BENCHMARK(BM_RunDownloadJob8MiBZeroLatency)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The same command stream handed straight to the simulated device: its erase, program and
// CRC work alone, the ceiling of the job above.
void BM_SimDeviceCommandsOnly8MiB(benchmark::State& state) {
    sim::SimDeviceConfig config;
    config.norSize = 16u << 20;
    sim::SimDevice device(config);
    const auto data = RandomData(kOverheadImage);
    const uint32_t block = 0x10000, k = kOverheadImage / block;
    auto send = [&](const Cdb& cdb, DataDirection dir, uint8_t* buf, uint32_t len) {
        if (!device.HandleCommand(cdb.data(), dir, buf, len).ok()) state.SkipWithError("command failed");
    };
    auto writeBlock = [&](uint32_t i) {
        uint8_t crc[2];
        send(cmd::Erase64KBlock(i * block), DataDirection::None, nullptr, 0);
        send(cmd::WritePageBlock(block, i * block), DataDirection::Out,
             const_cast<uint8_t*>(data.data() + i * block), block);
        send(cmd::GetCrc16Block(block, i * block), DataDirection::In, crc, 2);
    };
    for (auto _ : state) {
        uint8_t id[4];
        send(cmd::InitBlock({9, 0, 0, 0, 0}), DataDirection::None, nullptr, 0);
        send(cmd::ReadFlashIdBlock(), DataDirection::In, id, 4);
        for (uint32_t i = 1; i < k; ++i) writeBlock(i);
        writeBlock(0);
        send(cmd::SystemResetBlock(), DataDirection::None, nullptr, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOverheadImage));
}
BENCHMARK(BM_SimDeviceCommandsOnly8MiB)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_SimDeviceCommandsOnly8MiB)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// N devices with realistic timing, each receiving 1 MiB at once. The time scale makes one
// device take about a second; the wall time should not grow with N.
constexpr double kScalingTimeScale = 0.14;
double g_oneDeviceSeconds = 0;

void BM_ParallelDownload1MiB(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto bus = std::make_shared<sim::SimBus>();
    Bench bench(std::make_shared<sim::SimBackend>(bus), ImageFile(1u << 20));
    for (int i = 0; i < n; ++i) {
        sim::SimDeviceConfig config;
        config.timing = sim::TimingProfile::Realistic(kScalingTimeScale);
        const std::string name = "sim" + std::to_string(i);
        bus->Attach(name, std::make_shared<sim::SimDevice>(config));
        bench.present.push_back({name, sim::SimBus::PathFor(name), config.product});
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!bench.DownloadAll()) state.SkipWithError("download failed");
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    if (n == 1) g_oneDeviceSeconds = seconds;
    state.counters["devices"] = n;
    if (g_oneDeviceSeconds > 0) state.counters["x_one_device"] = seconds / g_oneDeviceSeconds;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n * (1 << 20));
}
BENCHMARK(BM_ParallelDownload1MiB)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Arg(32)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A device that keeps nothing: it answers every write's CRC from the data it was sent and
// takes a fixed time per command. What 32 jobs hold is then the host's memory alone.
class ForgetfulBackend : public IPassThroughBackend {
public:
    std::vector<VolumeRef> ListVolumes() override { return {}; }
    DriveType QueryDriveType(const std::string&, const std::string&) override { return DriveType::Removable; }
    std::unique_ptr<IPassThroughHandle> OpenVolume(const std::string&, const std::string&,
                                                   OpenError*) override {
        return std::make_unique<Handle>();
    }

private:
    class Handle : public IPassThroughHandle {
    public:
        bool Identify(VolumeIdentity& out) override {
            out = {BusType::Usb, "BRVNTIS ", "DEVICE          "};
            return true;
        }
        TransferResult Execute(const uint8_t* cdb, DataDirection, uint8_t* data, uint32_t length,
                               uint32_t) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const uint32_t addr = brev::GetLe32(cdb + 6);
            if (cdb[1] == cmd::WritePage) crcs_[addr] = Crc16Ccitt(data, length);
            if (cdb[1] == cmd::GetCrc16 && length == 2) {
                data[0] = static_cast<uint8_t>(crcs_[addr]);
                data[1] = static_cast<uint8_t>(crcs_[addr] >> 8);
            }
            if (cdb[1] == cmd::ReadFlashId && length == 4) brev::PutLe32(data, 0x1640EF);
            return {};
        }

    private:
        std::map<uint32_t, uint16_t> crcs_;
    };
};

long StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
    }
    return -1;
}

void BM_Memory32ConcurrentDownloads(benchmark::State& state) {
    constexpr int kDevices = 32;
    Bench bench(std::make_shared<ForgetfulBackend>(), ImageFile(1u << 20));
    for (int i = 0; i < kDevices; ++i) {
        const std::string name = "mem" + std::to_string(i);
        bench.present.push_back({name, "null:" + name, "DEVICE"});
    }
    bench.DownloadAll();  // first run: thread stacks and allocator arenas come into being
    double addedMiB = 0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5";  // restart the high-water mark
        const long before = StatusKiB("VmRSS:");
        if (!bench.DownloadAll()) state.SkipWithError("download failed");
        const long peak = StatusKiB("VmHWM:");
        addedMiB = (peak - before) / 1024.0;
    }
    state.counters["rss_added_MiB"] = addedMiB;
    state.counters["limit_MiB"] = 16;
}
BENCHMARK(BM_Memory32ConcurrentDownloads)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
