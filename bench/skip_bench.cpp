// Re-downloading 1 MiB with the realistic timing profile: a full download against downloads that
// leave unchanged blocks, with one of 16 blocks changed, none changed and all changed. The
// counters give the ratio to the full download of the same time scale.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/Utf8Path.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"
#include "image/ImageChecker.h"
#include "ops/Jobs.h"

namespace {

using namespace brev;

enum Scenario : int64_t { kFull = 0, kOneChanged = 1, kNoneChanged = 2, kAllChanged = 3 };
constexpr uint32_t kImageBytes = 1u << 20;  // 16 blocks of 64 KiB

class CountingNotifier : public IJobNotifier {
public:
    void PostProgressPos(const std::string&, int) override {}
    void PostProgressImage(const std::string&, int) override {}
    void PostEnableControls(const std::string&, int) override {}
    void AddTipsText(const std::string&, const std::string&) override {}
    void ShowFileParseError(int) override {}
    void ShowMessageBox(const std::string&, const std::string&) override {}
    void JobFinished(const std::string&, const JobOutcome& outcome) override { success = outcome.success; }
    bool success = false;
};

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

std::map<int64_t, double> g_fullSeconds;  // by time scale (per cent)

// Arguments: the scenario and the time scale in per cent of the realistic figures.
void BM_Redownload1MiB(benchmark::State& state) {
    const auto scenario = static_cast<Scenario>(state.range(0));
    const int64_t scalePercent = state.range(1);

    const auto image = RandomBytes(kImageBytes, 21);
    const auto path = std::filesystem::temp_directory_path() / "brev-skip-bench.up";
    if (!WriteUpdateImage(path, image)) state.SkipWithError("cannot write the image");

    sim::SimDeviceConfig config;
    config.timing = sim::TimingProfile::Realistic(static_cast<double>(scalePercent) / 100.0);
    // The reboot after the final SystemReset happens after the job; left out so the device stays on
    // the bus between iterations.
    config.timing.rebootUs = 0;
    auto device = std::make_shared<sim::SimDevice>(config);
    auto bus = std::make_shared<sim::SimBus>();
    bus->Attach("sim0", device);

    CountingNotifier notifier;
    SharedSettings settings;
    settings.skipUnchanged = scenario == kFull ? 0 : 1;
    CJobRegistry registry;
    JobEnvironment env;
    env.backend = std::make_shared<sim::SimBackend>(bus);
    env.notifier = &notifier;
    env.settings = &settings;
    env.registry = &registry;
    env.deviceProgramsDir = std::filesystem::temp_directory_path();
    const std::vector<PresentDevice> present = {{"sim0", sim::SimBus::PathFor("sim0"), config.product}};

    // What the device holds before each download.
    std::vector<uint8_t> before = image;
    if (scenario == kOneChanged) before[5 * 0x10000 + 77] ^= 0xFF;
    if (scenario == kFull || scenario == kAllChanged) before = RandomBytes(kImageBytes, 22);

    double seconds = 0;
    for (auto _ : state) {
        if (!device->WriteNorRaw(0, before)) state.SkipWithError("cannot set up the flash");
        StartRequest request;
        request.deviceName = "sim0";
        request.filePath = PathToUtf8(path);
        const auto t0 = std::chrono::steady_clock::now();
        notifier.success = false;
        if (!StartDownloadJob(env, present, request)) state.SkipWithError("not started");
        registry.WaitAll();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        seconds += s;
        if (!notifier.success) state.SkipWithError("download failed");
    }
    seconds /= static_cast<double>(state.iterations());
    if (scenario == kFull) g_fullSeconds[scalePercent] = seconds;
    const double full = g_fullSeconds[scalePercent];
    if (scenario != kFull && full > 0) {
        state.counters["x_faster"] = full / seconds;
        state.counters["pct_slower"] = (seconds / full - 1.0) * 100.0;
    }
    state.counters["time_scale_pct"] = static_cast<double>(scalePercent);
}
// The full download runs first at each scale: the others compare with it. 100 % is the faithful
// figure (about 7 s a full download); 10 % is a quick look.
BENCHMARK(BM_Redownload1MiB)
    ->ArgNames({"scenario", "scale"})
    ->Args({kFull, 10})
    ->Args({kOneChanged, 10})
    ->Args({kNoneChanged, 10})
    ->Args({kAllChanged, 10})
    ->Args({kFull, 100})
    ->Args({kOneChanged, 100})
    ->Args({kNoneChanged, 100})
    ->Args({kAllChanged, 100})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
