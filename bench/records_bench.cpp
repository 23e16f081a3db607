// The cost of the station's records: what keeping one job's record adds (SQLite, WAL, the image's
// hashes included), and pushing 10,000 waiting records to a local PostgreSQL server
// (BREVLOAD_BENCH_PG_URL; the table is made by `brevload-cli records init-db`).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/Records.h"
#include "app/RecordsPush.h"

namespace {

using namespace brev;

std::filesystem::path BenchFolder() {
    std::random_device rd;
    auto dir = std::filesystem::temp_directory_path() / ("brev-records-bench-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    return dir;
}

// What keeping the record adds to one download job of an image of state.range(0) bytes (0: a job
// without an image): Started before the job, Finished after it. The image's hashes are computed
// beside the job; the pause stands for the flash, which takes far longer than hashing the image.
void BM_RecordOneJob(benchmark::State& state) {
    const auto dir = BenchFolder();
    const auto image = dir / "fw.up";
    {
        std::vector<char> bytes(static_cast<size_t>(state.range(0)), '\x5A');
        std::ofstream(image, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string error;
    auto records = Records::Open(dir / "records.sqlite", "bench", "0", error);
    if (!records) {
        state.SkipWithError(error.c_str());
        return;
    }
    JobRecordStart start;
    start.operation = "download";
    start.path = "internal";
    start.deviceName = "sdb";
    start.slot = "A3";
    start.portPath = "1-2.3";
    start.serial = "0123456789";
    if (state.range(0) > 0) start.imagePath = image.string();
    start.headerLength = 256;
    JobOutcome outcome;
    outcome.success = true;
    outcome.flashId = 0x1640EF;
    outcome.bytesWritten = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        const int64_t token = records->Started(start);
        if (state.range(0) > 0) {
            state.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            state.ResumeTiming();
        }
        records->Finished(token, outcome);
    }
    records.reset();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecordOneJob)->Arg(0)->Arg(1 << 20)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Hashing an image (SHA-256 of the file), which runs beside the job.
void BM_Sha256OfImage(benchmark::State& state) {
    const auto dir = BenchFolder();
    const auto image = dir / "fw.up";
    {
        std::vector<char> bytes(static_cast<size_t>(state.range(0)), '\x5A');
        std::ofstream(image, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    for (auto _ : state) benchmark::DoNotOptimize(FileSha256(image));
    state.SetBytesProcessed(state.iterations() * state.range(0));
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Sha256OfImage)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_Push10000WaitingRecords(benchmark::State& state) {
    const char* url = std::getenv("BREVLOAD_BENCH_PG_URL");
    if (url == nullptr || *url == '\0') {
        state.SkipWithError("set BREVLOAD_BENCH_PG_URL to a local server's URL");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const auto dir = BenchFolder();
        std::string error;
        auto records = Records::Open(dir / "records.sqlite", "bench", "0", error);
        JobRecordStart start;
        start.operation = "erase";
        start.deviceName = "sdb";
        JobOutcome outcome;
        outcome.success = true;
        for (int i = 0; i < 10000; ++i) records->Finished(records->Started(start), outcome);
        state.ResumeTiming();

        const PushResult pushed = PushRecords(*records, url);

        state.PauseTiming();
        if (pushed.sent != 10000 || pushed.waiting != 0)
            state.SkipWithError(("push: " + pushed.error).c_str());
        records.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Push10000WaitingRecords)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
