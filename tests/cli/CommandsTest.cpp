#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr size_t kDataSize = 200000;  // three 64 KiB blocks and a tail: block 0 is written last

// An image made by the library, plus its data.
struct Image {
    std::vector<uint8_t> data;
    std::filesystem::path file;
};

Image MakeImageIn(const CliFolder& dir, const std::string& name = "fw.up", uint32_t seed = 7) {
    Image img{SomeData(kDataSize, seed), dir / name};
    WriteBytes(img.file, MakeUpdateImage(img.data));
    return img;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// --- check --------------------------------------------------------------------------------------

struct CheckCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;  // null: the file is missing
    int code;
    const char* text;
};

TEST(CliCheck, ReportsEachResultCodeWithItsText) {
    const std::vector<CheckCase> cases = {
        {"valid", [](std::vector<uint8_t>&) {}, 0, "OK"},
        {"header-only", [](std::vector<uint8_t>& f) { f.resize(256); }, 1, "文件太小了，必须是不合格式的"},
        {"lower-case magic", [](std::vector<uint8_t>& f) { f[0] = 'c'; }, 2, "文件头不符合格式要求"},
        {"trailing byte", [](std::vector<uint8_t>& f) { f.push_back(0); }, 3, "烧录数据长度与计算结果不符"},
        {"damaged data", [](std::vector<uint8_t>& f) { f[300] ^= 0x10; }, 4, "烧录数据CRC与计算结果不符"},
        {"missing file", nullptr, -1, "the file cannot be opened"},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        CliFolder dir;
        if (c.damage) {
            std::vector<uint8_t> file = MakeUpdateImage(SomeData(1000, 3));
            c.damage(file);
            WriteBytes(dir / "x.up", file);
        }
        const RunResult r = dir.Run({"check", "x.up"});
        EXPECT_EQ(r.exitCode, c.code == 0 ? 0 : 2);
        EXPECT_THAT(r.out, HasSubstr("x.up: " + std::to_string(c.code) + " " + c.text));
    }
}

TEST(CliMakeImage, WritesAnImageThatPassesTheCheckWithTheDataAfterTheHeader) {
    CliFolder dir;
    const auto data = SomeData(5000, 11);
    WriteBytes(dir / "raw.bin", data);

    for (const uint32_t header : {256u, 512u}) {
        SCOPED_TRACE(header);
        const RunResult made =
            dir.Run({"make-image", "raw.bin", "out.up", "--header-size", std::to_string(header)});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const RunResult checked = dir.Run({"check", "out.up"});
        EXPECT_EQ(checked.exitCode, 0);
        EXPECT_THAT(checked.out, HasSubstr("header " + std::to_string(header) + " bytes, data 5000 bytes"));
        const auto image = ReadBytes(dir / "out.up");
        ASSERT_EQ(image.size(), header + data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + header));
    }
}

TEST(CliMakeImage, RefusesWhatCannotMakeAValidImage) {
    CliFolder dir;
    WriteBytes(dir / "empty.bin", {});
    WriteBytes(dir / "raw.bin", SomeData(10, 1));
    EXPECT_EQ(dir.Run({"make-image", "empty.bin", "a.up"}).exitCode, 2);
    EXPECT_EQ(dir.Run({"make-image", "raw.bin", "b.up", "--header-size", "21"}).exitCode, 2);
    EXPECT_EQ(dir.Run({"make-image", "missing.bin", "c.up"}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.up"));
    EXPECT_FALSE(std::filesystem::exists(dir / "b.up"));
}

// --- download --------------------------------------------------------------------------------------

TEST(CliDownload, WritesEveryDeviceAndTracesEachTransfer) {
    CliFolder dir;
    const Image img = MakeImageIn(dir);
    const RunResult r =
        dir.Run({"download", "fw.up", "--simulate", "2", "--sim-dir", "flash", "--trace", "t.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("sim0: FLASH ID 1640EF"));
    EXPECT_THAT(r.out, HasSubstr("2 succeeded, 0 failed"));
    for (const char* name : {"sim0", "sim1"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(StartsWith(ReadBytes(dir / "flash" / (std::string(name) + ".flash")), img.data));
    }

    const std::regex line(R"((sim0|sim1) (in|out) [0-9A-F]{32} ([0-9]+) (ok|fail))");
    std::map<std::string, uint64_t> written;
    std::map<std::string, std::string> first;
    const auto trace = ReadBytes(dir / "t.txt");
    for (const std::string& l : Lines(std::string(trace.begin(), trace.end()))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        if (!first.contains(m[1])) first[m[1]] = l;
        if (m[2] == "out" && m[4] == "ok") written[m[1]] += std::stoull(m[3]);
    }
    for (const char* name : {"sim0", "sim1"}) {
        SCOPED_TRACE(name);
        // Init (sub-command 0x81, clock divider 9 by default) comes first, then at least the data goes out.
        EXPECT_EQ(first[name].substr(0, 15), std::string(name) + " out C08109");
        EXPECT_GE(written[name], kDataSize);
    }

    // A second run reads back what the first left in the simulated flash.
    const RunResult read = dir.Run({"read", "--simulate", "2", "--device", "sim1", "--sim-dir", "flash"});
    ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
    const auto back = ReadBytes(dir / "read.bin");
    EXPECT_EQ(back.size(), 1u << 20);
    EXPECT_TRUE(StartsWith(back, img.data));
}

TEST(CliDownload, AFaultOnOneDeviceFailsOnlyThatDevice) {
    for (const char* fault : {"sim1:fail:0x82:3", "sim1:crc-swap", "sim1:flip:2", "sim1:drop:8",
                              "sim1:timeout:5", "sim1:fail:0", "sim1:short:0x82:1"}) {
        SCOPED_TRACE(fault);
        CliFolder dir;
        const Image img = MakeImageIn(dir);
        const RunResult r = dir.Run(
            {"download", "fw.up", "--simulate", "2", "--sim-dir", "flash", "--sim-fault", fault, "-q"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_THAT(r.out, HasSubstr("1 succeeded, 1 failed"));
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\nsim0 +OK ")));
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\nsim1 +FAILED ")));
        EXPECT_TRUE(StartsWith(ReadBytes(dir / "flash/sim0.flash"), img.data));
        // Block 0 is written last, so a failed run never leaves a complete image behind.
        EXPECT_FALSE(StartsWith(ReadBytes(dir / "flash/sim1.flash"), img.data));
    }
}

// A re-download that may skip blocks writes only the changed one: from the option or the
// settings key, unless --no-skip-unchanged says otherwise. verify tells the two images apart.
TEST(CliDownload, SkipUnchangedWritesOnlyTheChangedBlockAndVerifySeesIt) {
    CliFolder dir;
    const Image img = MakeImageIn(dir);
    std::vector<uint8_t> changed = img.data;
    changed[0x1ABCD] ^= 0x40;  // block 1 of 1, 2, the tail and 0
    WriteBytes(dir / "fw2.up", MakeUpdateImage(changed));
    const std::vector<std::string> sim = {"--simulate", "1", "--sim-dir", "flash"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), sim.begin(), sim.end());
        return dir.Run(args);
    };
    ASSERT_EQ(run({"download", "fw.up", "-q"}).exitCode, 0);
    EXPECT_EQ(run({"verify", "fw.up", "-q"}).exitCode, 0);

    const RunResult differs = run({"verify", "fw2.up"});
    EXPECT_EQ(differs.exitCode, 1) << differs.out << differs.err;
    EXPECT_THAT(differs.out, HasSubstr("verify-mismatch"));
    EXPECT_THAT(differs.out, HasSubstr("block 1 at 0x1ABCD"));
    EXPECT_TRUE(StartsWith(ReadBytes(dir / "flash/sim0.flash"), img.data));  // verify wrote nothing

    const RunResult skip = run({"download", "fw2.up", "--skip-unchanged", "--json"});
    ASSERT_EQ(skip.exitCode, 0) << skip.out << skip.err;
    EXPECT_THAT(skip.out, HasSubstr(R"("text":"3个数据块未改变")"));
    EXPECT_THAT(skip.out, HasSubstr(R"("bytes":65536,"bytesSkipped":134464)"));
    EXPECT_TRUE(StartsWith(ReadBytes(dir / "flash/sim0.flash"), changed));
    EXPECT_EQ(run({"verify", "fw2.up", "-q"}).exitCode, 0);

    // The settings key turns it on for every download; the option turns it off again.
    std::ofstream(dir / "confile.inf") << "[setting]\r\nskipUnchanged=1\r\n";
    const RunResult fromSettings = run({"download", "fw.up"});
    ASSERT_EQ(fromSettings.exitCode, 0) << fromSettings.err;
    EXPECT_THAT(fromSettings.out, HasSubstr("65536 bytes, 134464 bytes unchanged"));
    const RunResult full = run({"download", "fw.up", "--no-skip-unchanged", "--json"});
    ASSERT_EQ(full.exitCode, 0) << full.err;
    EXPECT_THAT(full.out, HasSubstr(R"("bytes":200000,"seconds")"));
    EXPECT_THAT(full.out, Not(HasSubstr("未改变")));

    // The external flash cannot be read back; the window's choice of it does not stop verify.
    EXPECT_EQ(run({"verify", "fw.up", "--ex-flash"}).exitCode, 2);
    std::ofstream(dir / "confile.inf") << "[setting]\r\nexFlash=1\r\n";
    EXPECT_EQ(run({"verify", "fw.up", "-q"}).exitCode, 0);
}

// A simulated path that takes 32 KiB per request: each 64 KiB read goes out as two, and the file
// is whole; without the split the simulator would refuse every read.
TEST(CliRead, ReadsLargerThanTheSimulatedPathTakesAreSplit) {
    CliFolder dir;
    const RunResult r =
        dir.Run({"read", "--simulate", "1", "--sim-max-transfer", "32768", "--trace", "t.txt", "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ReadBytes(dir / "read.bin").size(), 1u << 20);
    const auto trace = ReadBytes(dir / "t.txt");
    uint32_t next = 0;
    for (const std::string& l : Lines(std::string(trace.begin(), trace.end()))) {
        if (l.substr(0, 14) != "sim0 in C00700") continue;  // Read
        SCOPED_TRACE(l);
        // Length 0x8000 and the address, little-endian, then the data length and the status.
        char expected[64];
        std::snprintf(expected, sizeof expected, "sim0 in C00700800000%02X%02X%02X%02X000000000000 32768 ok",
                      next & 0xFF, (next >> 8) & 0xFF, (next >> 16) & 0xFF, next >> 24);
        EXPECT_EQ(l, expected);
        next += 0x8000;
    }
    EXPECT_EQ(next, 1u << 20);

    const RunResult refused = dir.Run({"read", "--simulate", "1", "--sim-max-transfer", "x"});
    EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
}

TEST(CliDownload, ABadImageStopsBeforeAnyDeviceIsTouched) {
    CliFolder dir;
    auto file = MakeUpdateImage(SomeData(1000, 5));
    file.back() ^= 1;
    WriteBytes(dir / "bad.up", file);
    const RunResult r = dir.Run({"download", "bad.up", "--simulate", "1", "--trace", "t.txt"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("4 烧录数据CRC与计算结果不符"));
    EXPECT_TRUE(ReadBytes(dir / "t.txt").empty());
}

// The folder has no device programs; real devices are asked for (there are none here).
TEST(CliDownload, AResetAfterWithoutTheResetProgramStopsBeforeAnyDeviceIsTouched) {
    CliFolder dir;
    MakeImageIn(dir);
    const RunResult refused = dir.Run({"download", "fw.up", "--reset-after"});
    EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr((dir / "brevload_files" / "reset.bin").string()));
    const RunResult without = dir.Run({"download", "fw.up", "--no-reset-after"});
    EXPECT_EQ(without.exitCode, 3) << without.out << without.err;
}

TEST(CliDownload, ExternalFlashAndPcModeDevicesGetTheFile) {
    CliFolder dir;
    const Image img = MakeImageIn(dir);
    WriteBytes(dir / "raw.bin", img.data);

    const RunResult ex =
        dir.Run({"download", "raw.bin", "--ex-flash", "--simulate", "1", "--sim-dir", "flash", "-q"});
    EXPECT_EQ(ex.exitCode, 0) << ex.out << ex.err;
    EXPECT_TRUE(StartsWith(ReadBytes(dir / "flash/sim0.exflash"), img.data));

    // The loader only reaches the external flash through the pins it is wired to.
    const RunResult wrongPins =
        dir.Run({"download", "raw.bin", "--ex-flash", "--pins", "PB1,PB6,PB7,PB8", "--simulate", "1", "-q"});
    EXPECT_EQ(wrongPins.exitCode, 1);

    const RunResult pc = dir.Run({"download", "fw.up", "--simulate-pc", "1", "-q"});
    EXPECT_EQ(pc.exitCode, 0) << pc.out << pc.err;
    EXPECT_TRUE(std::regex_search(pc.out, std::regex("\nsimpc0 +OK ")));
}

TEST(CliSettings, BusBytesComeFromTheSettingsFileUnlessAnOptionSaysOtherwise) {
    CliFolder dir;
    std::ofstream(dir / "confile.inf") << "[setting]\r\nclkDiv=12\r\nlineMode=3\r\n";
    struct Case {
        std::vector<std::string> extra;
        const char* init;  // the first block sent: Init with the bus bytes
    } cases[] = {
        {{}, "sim0 out C0810C03"},
        {{"--line-mode", "5"}, "sim0 out C0810C05"},
        {{"--clk-div", "7"}, "sim0 out C0810703"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"read", "--simulate", "1", "--trace", "t.txt", "-q"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunResult r = dir.Run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto trace = ReadBytes(dir / "t.txt");
        EXPECT_EQ(std::string(trace.begin(), trace.end()).substr(0, 17), c.init);
    }
}

// --- output modes ------------------------------------------------------------------------------------

TEST(CliOutput, QuietPrintsOnlyTheSummary) {
    CliFolder dir;
    MakeImageIn(dir);
    const RunResult r = dir.Run({"download", "fw.up", "--simulate", "1", "-q"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.out, Not(HasSubstr("FLASH ID 1640EF")));
    EXPECT_THAT(r.out, Not(HasSubstr("%")));
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("DEVICE +RESULT +FLASH ID +BYTES +TIME\nsim0 +OK +1640EF +200000 ")));
}

TEST(CliOutput, JsonGivesOneValidObjectPerLineForEveryEvent) {
    CliFolder dir;
    MakeImageIn(dir);
    const RunResult r =
        dir.Run({"download", "fw.up", "--simulate", "2", "--sim-fault", "sim1:crc-swap", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const auto lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) {
        EXPECT_TRUE(IsValidJson(l)) << l;
        EXPECT_EQ(l.rfind(R"({"schema":1,)", 0), 0u) << l;
    }

    auto has = [&](const std::string& fragment) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
    };
    EXPECT_TRUE(has(R"("event":"progress","device":"sim0","percent":90)"));
    EXPECT_TRUE(has(R"("event":"image","device":"sim0","state":"success")"));
    // Operator texts stay UTF-8, byte for byte.
    EXPECT_TRUE(has(R"("event":"log","device":"sim0","text":"数据写入完成，若想再次升级，请重新接入设备")"));
    EXPECT_TRUE(has(R"("event":"result","device":"sim1","success":false)"));
    EXPECT_TRUE(has(
        R"("event":"result","device":"sim0","success":true,"result":"ok","flashId":"1640EF","bytes":200000)"));
    EXPECT_THAT(lines.back(), HasSubstr(R"("event":"summary")"));
    EXPECT_THAT(lines.back(), HasSubstr(R"("succeeded":1,"failed":1)"));
    // std::regex: GoogleTest's own regular expressions (Windows) know no brackets.
    EXPECT_TRUE(std::regex_match(
        lines.front(),
        std::regex(R"(\{"schema":1,"time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z".*)")))
        << lines.front();
}

// A failed job says why: a reason column in the summary, reason and detail in the JSON result,
// and with -v the detail on the failure line.
TEST(CliOutput, AFailedJobNamesItsReason) {
    CliFolder dir;
    MakeImageIn(dir);
    const std::vector<std::string> run = {"download", "fw.up",       "--simulate",
                                          "2",        "--sim-fault", "sim1:fail:0x81:1"};
    const std::string detail = "Init: check condition, hardware error: internal target failure (04/44/00)";

    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = run;
        args.insert(args.end(), extra.begin(), extra.end());
        return dir.Run(args);
    };
    const RunResult verbose = with({"-v"});
    EXPECT_EQ(verbose.exitCode, 1) << verbose.err;
    EXPECT_THAT(verbose.out, HasSubstr("sim1: FAILED init-failed (0 bytes, "));
    EXPECT_THAT(verbose.out, HasSubstr("): " + detail + "\n"));
    EXPECT_TRUE(
        std::regex_search(verbose.out, std::regex("DEVICE +RESULT +REASON +FLASH ID +BYTES +TIME\n")));
    EXPECT_TRUE(std::regex_search(verbose.out, std::regex("\nsim0 +OK +- +1640EF +200000 ")));
    EXPECT_TRUE(std::regex_search(verbose.out, std::regex("\nsim1 +FAILED +init-failed +- +0 ")));

    const RunResult terse = with({});
    EXPECT_THAT(terse.out, HasSubstr("sim1: FAILED init-failed ("));
    EXPECT_THAT(terse.out, Not(HasSubstr(detail)));

    const RunResult json = with({"--json"});
    const auto lines = Lines(json.out);
    auto line = [&](const std::string& fragment) {
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(fragment) != std::string::npos;
        });
        return it == lines.end() ? std::string() : *it;
    };
    EXPECT_THAT(line(R"("event":"result","device":"sim1")"),
                HasSubstr(R"("reason":"init-failed","detail":")" + detail + "\""));
    EXPECT_THAT(line(R"("event":"result","device":"sim0")"), HasSubstr(R"("reason":null,"detail":null)"));
    EXPECT_THAT(line(R"("event":"summary")"), HasSubstr(R"("reason":"init-failed")"));
}

#ifdef __linux__
// An output the system refuses, even to root: every write to /dev/full fails. The failure line
// names the reason, and with -v the system's words.
TEST(CliOutput, AnUnwritableReadBackFileSaysSoBeforeAnyDeviceIsTouched) {
    CliFolder dir;
    const RunResult r = dir.Run({"read", "--simulate", "1", "-o", "/dev/full", "-v", "--trace", "t.log"});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("/dev/full: not a regular file"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "t.log"));  // no command was sent
}
#endif

// --- exit statuses --------------------------------------------------------------------------------------

TEST(CliExit, NoDeviceToWorkOnIsThree) {
    const std::vector<std::vector<std::string>> runs = {
        {"download", "fw.up", "--simulate", "1", "--sim-attach-after", "60000"},
        {"erase", "--simulate", "2", "--device", "sim7"},
        {"list", "--simulate", "1", "--sim-attach-after", "60000"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0]);
        CliFolder dir;
        MakeImageIn(dir);
        const RunResult r = dir.Run(args);
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    }
}

TEST(CliExit, ANamedDeviceThatIsMissingStopsTheRun) {
    CliFolder dir;
    const RunResult r = dir.Run({"erase", "--simulate", "1", "--device", "sim0", "--device", "sim9"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(std::regex_search(r.out, std::regex("\nsim0 +OK ")));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\nsim9 +not present ")));
}

TEST(CliExit, BadUsageIsTwo) {
    const std::vector<std::vector<std::string>> runs = {
        {},
        {"frobnicate"},
        {"download"},
        {"download", "fw.up", "--no-such-option"},
        {"download", "fw.up", "--simulate", "1", "--clk-div", "300"},
        {"download", "fw.up", "--simulate", "1", "--pins", "PB5,PB6"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim3:flip:1"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:melt"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:flip:x"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:flip:0"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:fail:0x100"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:short:0x07"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:short:0x07:-1"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:fail:-0"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:refuse:0x02:later"},
        {"download", "fw.up", "--simulate", "1", "--sim-fault", "sim0:open:permission:0"},
        {"download", "fw.up", "--simulate", "1", "--sim-profile", "fast"},
        {"download", "fw.up", "--simulate", "3000"},
        {"download", "fw.up", "--simulate", "abc"},
        {"download", "fw.up", "--simulate", "1", "--simulate-pc", "65"},
        {"download", "fw.up", "--simulate", "1", "--config", "missing.inf"},
        {"read", "--simulate", "1", "-o", "no/such/folder/r.bin"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(::testing::PrintToString(args));
        CliFolder dir;
        MakeImageIn(dir);
        const RunResult r = dir.Run(args);
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_FALSE(r.err.empty());
    }
}

TEST(CliList, ShowsEveryDeviceWithItsMode) {
    CliFolder dir;
    std::ofstream(dir / "slots.ini") << "[slots]\n0-1=A1\n";
    const RunResult r = dir.Run({"list", "--simulate", "1", "--simulate-pc", "1"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("NAME +SLOT +PORT +SERIAL +NODES +VENDOR +PRODUCT +MODE\n"
                          "sim0 +A1 +0-1 +BRVSIM0000 +sim:sim0 +BRVNTIS +DEVICE +download\n"
                          "simpc0 +- +0-101 +BRVSIMPC0000 +sim:simpc0 +BRVNTIS +COMP_AUDIO +pc\n")))
        << r.out;
}

}  // namespace
}  // namespace brev::clitest
