#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "device/CommandSet.h"
#include "device/MassDevice.h"
#include "device/Tracing.h"
#include "tests/device/FakeBackend.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

using test::Status;

TEST(TraceLine, Format) {
    const Cdb erase = cmd::Erase4KBlock(0x10000);
    const Cdb crc = cmd::GetCrc16Block(0x1000, 0xABCDEF);
    EXPECT_EQ(FormatTraceLine("sdb", erase.data(), DataDirection::None, 0, {}),
              "sdb out C0030000000000000100000000000000 0 ok");
    EXPECT_EQ(FormatTraceLine("E", crc.data(), DataDirection::In, 2, Status(TransferStatus::Timeout)),
              "E in C08200100000EFCDAB00000000000000 2 fail");
    EXPECT_EQ(FormatTraceLine("sim0", crc.data(), DataDirection::Out, 65536, Status(TransferStatus::Ok, 2)),
              "sim0 out C08200100000EFCDAB00000000000000 65536 fail");
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Lines reach a temporary file beside the trace as they come; the trace itself is replaced
// only when the run ends well, and a run that never commits leaves the old trace.
TEST(TraceSink, FileReplacesTheOldTraceWhenCommitted) {
    const test::TempDir dir("brev-device");
    const auto file = dir / "trace.txt";
    { std::ofstream(file) << "earlier run\n"; }
    const auto count = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    {
        TraceSink sink(file);
        ASSERT_TRUE(sink.good());
        sink.Append("dropped");
        EXPECT_EQ(count(), 2);  // the lines are on the disk already
    }
    EXPECT_EQ(ReadLines(file), std::vector<std::string>{"earlier run"});
    EXPECT_EQ(count(), 1);
    {
        TraceSink sink(file, true);
        sink.Append("first");
        sink.Append("second");
        EXPECT_FALSE(sink.Commit());
        sink.Append("after the end");
        EXPECT_EQ(sink.Lines(), (std::vector<std::string>{"first", "second", "after the end"}));
    }  // closed first: Windows cannot delete a folder holding an open file
    EXPECT_EQ(ReadLines(file), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(count(), 1);
    std::filesystem::remove_all(file.parent_path());

    TraceSink bad(file.parent_path() / "missing" / "trace.txt");
    EXPECT_FALSE(bad.good());
    bad.Append("dropped");  // must not crash
}

TEST(TracingBackend, RecordsEveryTransferOfEveryDeviceInOrder) {
    auto fake = std::make_shared<test::FakeBackend>();
    fake->Add({"sdb", "/dev/sdb"});
    fake->Add({"sdc", "/dev/sdc"});
    fake->SetHandler("sdc", [](const uint8_t* cdb, DataDirection, uint8_t*, uint32_t) {
        return cdb[6] % 2 ? Status(TransferStatus::CheckCondition, 2) : TransferResult{};
    });
    auto sink = std::make_shared<TraceSink>();
    auto traced = std::make_shared<TracingBackend>(fake, sink);
    EXPECT_EQ(traced->ListVolumes().size(), 2u);

    constexpr uint32_t kPerDevice = 300;
    auto run = [&](const std::string& name) {
        MassDevice dev(traced, "/dev/" + name, name, {"BRVNTIS"}, {"DEVICE"});
        ASSERT_EQ(dev.Open(), 1);
        for (uint32_t i = 0; i < kPerDevice; ++i) {
            const Cdb b = cmd::ReadBlock(0, i);
            dev.TransferOut(b.data(), 0, nullptr);
        }
    };
    std::thread a(run, "sdb");
    std::thread b(run, "sdc");
    a.join();
    b.join();

    uint32_t next[2] = {0, 0};
    for (const auto& line : sink->Lines()) {
        const int d = line.rfind("sdb ", 0) == 0 ? 0 : 1;
        const Cdb expected = cmd::ReadBlock(0, next[d]);
        const bool fails = d == 1 && next[d] % 2;
        EXPECT_EQ(line,
                  FormatTraceLine(d == 0 ? "sdb" : "sdc", expected.data(), DataDirection::None, 0,
                                  fails ? Status(TransferStatus::CheckCondition, 2) : TransferResult{}));
        ++next[d];
    }
    EXPECT_EQ(next[0], kPerDevice);
    EXPECT_EQ(next[1], kPerDevice);
}

}  // namespace
}  // namespace brev
