// Which devices a command works on: their identity in `list`, --device selectors, the slots file,
// and the guard against erasing every device by accident.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "CliRun.h"
#include "image/ImageChecker.h"

namespace brev::clitest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// The fixture of these tests: sim0 in slot A1, sim1 in slot B.
void WriteSlots(const CliFolder& dir, const std::string& file = "slots.ini") {
    std::ofstream(dir / file) << "; the fixture\n[slots]\n0-1=A1\n0-2 = B\n";
}

// The "device" of every event of `event` in JSON output, in order.
std::vector<std::string> DevicesOf(const std::string& jsonOut, const std::string& event) {
    std::vector<std::string> names;
    const std::regex re("\"event\":\"" + event + "\",\"device\":\"([^\"]+)\"");
    for (const std::string& line : Lines(jsonOut)) {
        std::smatch m;
        if (std::regex_search(line, m, re)) names.push_back(m[1]);
    }
    return names;
}

std::string LineOf(const std::string& out, const std::string& fragment) {
    for (const std::string& line : Lines(out))
        if (line.find(fragment) != std::string::npos) return line;
    return {};
}

TEST(CliSelect, ListShowsIdentityAndSlot) {
    CliFolder dir;
    WriteSlots(dir);
    const RunResult json = dir.Run({"list", "--simulate", "2", "--simulate-pc", "1", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    for (const std::string& l : Lines(json.out)) EXPECT_TRUE(IsValidJson(l)) << l;
    EXPECT_THAT(LineOf(json.out, R"("device":"sim1")"),
                HasSubstr(R"("slot":"B","port":"0-2","serial":"BRVSIM0001","sgNode":null,"blockNode":null,)"
                          R"("path":"sim:sim1","vendor":"BRVNTIS","product":"DEVICE","mode":"download")"));
    EXPECT_THAT(LineOf(json.out, R"("device":"simpc0")"),
                HasSubstr(R"("slot":null,"port":"0-101","serial":"BRVSIMPC0000")"));
}

TEST(CliSelect, EachKindOfSelectorChoosesItsDevices) {
    const struct {
        std::vector<std::string> selectors;
        std::vector<std::string> chosen;
    } cases[] = {
        {{"sim1"}, {"sim1"}},
        {{"sim:sim2"}, {"sim2"}},
        {{"port:0-2"}, {"sim1"}},
        {{"serial:BRVSIM0001"}, {"sim1"}},
        {{"slot:B"}, {"sim1"}},
        {{"port:0-101"}, {"simpc0"}},
        {{"serial:BRVSIMPC0000"}, {"simpc0"}},
        // Several, in the devices' order; two selectors of one device choose it once.
        {{"slot:B", "port:0-1", "serial:BRVSIM0000"}, {"sim0", "sim1"}},
    };
    CliFolder dir;
    WriteSlots(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selectors.front());
        std::vector<std::string> args{"list", "--simulate", "3", "--simulate-pc", "1", "--json"};
        for (const std::string& s : c.selectors) args.insert(args.end(), {"--device", s});
        const RunResult r = dir.Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_THAT(DevicesOf(r.out, "device"), ElementsAreArray(c.chosen));
    }
}

TEST(CliSelect, ASelectorThatMatchesNothingIsNamedAndNothingRuns) {
    const char* unknown[] = {"sim7", "port:0-9", "port:", "serial:BRVSIM0007", "slot:C", "/dev/sdb", "SIM0"};
    CliFolder dir;
    WriteSlots(dir);
    for (const char* selector : unknown) {
        SCOPED_TRACE(selector);
        const RunResult r =
            dir.Run({"erase", "--simulate", "2", "--device", "sim0", "--device", selector, "--json"});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_THAT(r.out,
                    HasSubstr(std::string(R"("text":"--device )") + selector + ": no such device present"));
        EXPECT_THAT(DevicesOf(r.out, "start"), ElementsAre());
    }
    const RunResult plain = dir.Run({"list", "--simulate", "1", "--device", "slot:C"});
    EXPECT_EQ(plain.exitCode, 3);
    EXPECT_THAT(plain.err, HasSubstr("--device slot:C: no such device present"));
}

TEST(CliSelect, SlotsFileGivenOrBesideTheSettings) {
    CliFolder dir;
    std::ofstream(dir / "other.ini") << "[slots]\n0-1=X9\n";
    const RunResult given =
        dir.Run({"list", "--simulate", "2", "--slots", "other.ini", "--device", "slot:X9"});
    EXPECT_EQ(given.exitCode, 0) << given.err;
    EXPECT_TRUE(std::regex_search(given.out, std::regex("\nsim0 +X9 +0-1 "))) << given.out;

    // Without slots.ini nothing has a slot.
    EXPECT_EQ(dir.Run({"list", "--simulate", "2", "--device", "slot:B"}).exitCode, 3);
    WriteSlots(dir);
    EXPECT_EQ(dir.Run({"list", "--simulate", "2", "--device", "slot:B"}).exitCode, 0);
    EXPECT_EQ(dir.Run({"list", "--simulate", "1", "--slots", "missing.ini"}).exitCode, 2);
}

// Erase and random-test change what is on a device: with several present they need --device or --all.
TEST(CliSelect, ChangingSeveralDevicesNeedsAll) {
    CliFolder dir;
    WriteSlots(dir);
    const std::vector<uint8_t> data = SomeData(200000, 9);
    WriteBytes(dir / "fw.up", MakeUpdateImage(data));
    ASSERT_EQ(dir.Run({"download", "fw.up", "--simulate", "2", "--sim-dir", "flash", "-q"}).exitCode, 0);
    auto written = [&](const char* name) {
        const auto flash = ReadBytes(dir / "flash" / (std::string(name) + ".flash"));
        return flash.size() >= data.size() && std::equal(data.begin(), data.end(), flash.begin());
    };
    ASSERT_TRUE(written("sim0") && written("sim1"));

    for (const char* command : {"erase", "random-test"}) {
        SCOPED_TRACE(command);
        const RunResult r = dir.Run({command, "--simulate", "2", "--sim-dir", "flash"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_THAT(r.err, HasSubstr("2 devices are present: choose them with --device, or give --all"));
        EXPECT_TRUE(written("sim0") && written("sim1"));
    }

    // One chosen device: the other keeps its data; the rows name the slot.
    const RunResult one =
        dir.Run({"erase", "--simulate", "2", "--sim-dir", "flash", "--device", "slot:B", "-q"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_TRUE(std::regex_search(one.out, std::regex("\nsim1 \\[B\\] +OK ")));
    EXPECT_TRUE(written("sim0"));
    EXPECT_FALSE(written("sim1"));

    const RunResult all = dir.Run({"erase", "--simulate", "2", "--sim-dir", "flash", "--all", "--json"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_FALSE(written("sim0"));
    EXPECT_THAT(LineOf(all.out, R"("event":"result","device":"sim0")"), HasSubstr(R"("slot":"A1"})"));
    EXPECT_THAT(LineOf(all.out, R"("event":"summary")"),
                HasSubstr(R"("reason":null,"detail":null,"slot":"B"})"));

    // A single device needs no --all.
    EXPECT_EQ(dir.Run({"erase", "--simulate", "1"}).exitCode, 0);
}

}  // namespace
}  // namespace brev::clitest
