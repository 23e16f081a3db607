// The station's records as the command-line tool keeps and shows them: every outcome, every
// operation, a crash, the history's filters and formats, and two processes writing at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "CliRun.h"
#include "image/Crc16.h"
#include "image/ImageChecker.h"
#include "tests/support/Sha256Sum.h"

namespace brev::clitest {
namespace {

using test::Sha256Sum;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

using Row = std::map<std::string, std::string>;

// One flat JSON object of strings and numbers, values unescaped.
Row ParseObject(const std::string& line) {
    Row row;
    static const std::regex field(
        R"re("([A-Za-z0-9]+)":("((?:[^"\\]|\\.)*)"|-?[0-9.eE+]+|null|true|false))re");
    for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it) {
        const std::smatch& m = *it;
        if (!m[3].matched) {
            row[m[1]] = m[2];
            continue;
        }
        std::string value;
        const std::string raw = m[3];
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            const char c = raw[++i];
            value += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
        row[m[1]] = value;
    }
    return row;
}

// RFC 4180: records end with CRLF, quoted fields may hold commas, quotes (doubled) and line breaks.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "the last record does not end with CRLF";
    return records;
}

std::vector<Row> History(const CliFolder& dir, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"history", "--records", "r.sqlite", "--json"});
    const RunResult r = dir.Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Row> rows;
    for (const std::string& line : Lines(r.out)) {
        EXPECT_TRUE(IsValidJson(line)) << line;
        rows.push_back(ParseObject(line));
    }
    return rows;
}

std::vector<std::string> Devices(const std::vector<Row>& rows) {
    std::vector<std::string> names;
    for (const Row& r : rows) names.push_back(r.at("device"));
    return names;
}

[[maybe_unused]] Row RowOf(const std::vector<Row>& rows, const std::string& device) {
    for (const Row& r : rows)
        if (r.at("device") == device) return r;
    ADD_FAILURE() << "no record of " << device;
    return {};
}

constexpr size_t kDataSize = 150000;

#ifndef _WIN32
// These two stop or disturb a running job from outside (signals, permissions); Windows runs
// the tool only to its end (CliFolder::Run).

// One run over fourteen devices: one succeeds, each of the others fails its own way. The last
// ones are refused as only the system could refuse them (a permission taken away, a signal in the
// middle of a transfer, a device that answers BUSY, a volume that no longer opens).
TEST(CliRecords, EveryOutcomeIsRecordedWithItsReason) {
    CliFolder dir;
    const auto data = SomeData(kDataSize, 3);
    WriteBytes(dir / "fw.up", MakeUpdateImage(data));
    std::ofstream(dir / "slots.ini") << "[slots]\n0-1=A1\n0-2=A2\n";
    const struct {
        const char* fault;
        const char* reason;
        const char* result = "failed";
    } failures[] = {
        {"sim1:fail:0x81:1", "init-failed"},
        {"sim2:fail:0", "flash-id-failed"},
        {"sim3:crc-swap", "verify-mismatch"},
        {"sim4:timeout:5", "timeout"},
        {"sim5:short:0x82:1", "short-transfer"},
        {"sim6:drop:2", "device-removed"},
        {"sim7:fail:0x05", "erase-failed"},
        {"sim8:fail:0x02", "write-failed"},
        {"sim9:fail:0x82", "read-failed"},
        {"sim10:open:failed:2", "open-failed"},  // the scan opened it, the job cannot
        {"sim11:refuse:0x81:permission", "permission"},
        {"sim12:refuse:0x02:scsi-busy", "busy"},
        {"sim13:refuse:0x02:interrupted", "interrupted", "interrupted"},
    };
    std::vector<std::string> args = {"download",  "fw.up",     "--simulate", "14",      "--records",
                                     "r.sqlite",  "--station", "line7",      "--slots", "slots.ini",
                                     "--clk-div", "3",         "-q"};
    for (const auto& f : failures) args.insert(args.end(), {"--sim-fault", f.fault});
    const RunResult run = dir.Run(args);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;

    const std::vector<Row> rows = History(dir);
    ASSERT_EQ(rows.size(), 14u);
    std::set<std::string> uuids;
    for (const Row& r : rows) uuids.insert(r.at("uuid"));
    EXPECT_EQ(uuids.size(), 14u);

    const Row ok = RowOf(rows, "sim0");
    EXPECT_TRUE(std::regex_match(
        ok.at("uuid"), std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(ok.at("startedAt"), utc)) << ok.at("startedAt");
    EXPECT_TRUE(std::regex_match(ok.at("endedAt"), utc)) << ok.at("endedAt");
    EXPECT_LE(ok.at("startedAt"), ok.at("endedAt"));
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", Crc16Ccitt(data.data(), static_cast<int64_t>(data.size())));
    const Row expected = {
        {"station", "line7"},
        {"operation", "download"},
        {"path", "internal"},
        {"eraseUnit", "64K"},
        {"resetAfter", "0"},
        {"bus", "03 00 00 00 00"},
        {"slot", "A1"},
        {"portPath", "0-1"},
        {"serial", "BRVSIM0000"},
        {"flashId", "1640EF"},
        {"image", std::filesystem::canonical(dir / "fw.up").string()},
        {"imageSize", std::to_string(std::filesystem::file_size(dir / "fw.up"))},
        {"headerLength", "256"},
        {"dataCrc16", crc},
        {"sha256", Sha256Sum(dir / "fw.up")},
        {"bytes", std::to_string(kDataSize)},
        {"result", "ok"},
        {"reason", ""},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(ok.at(key), value) << key;
    EXPECT_FALSE(ok.at("version").empty());
    // The duration in milliseconds, as the two times say (within the day of this test).
    auto ms = [](const std::string& t) {
        return ((std::stoll(t.substr(11, 2)) * 60 + std::stoll(t.substr(14, 2))) * 60 +
                std::stoll(t.substr(17, 2))) *
                   1000 +
               std::stoll(t.substr(20, 3));
    };
    const long long took = ms(ok.at("endedAt")) - ms(ok.at("startedAt"));
    if (took >= 0) {
        EXPECT_NEAR(std::stoll(ok.at("durationMs")), took, 1);
    }

    for (const auto& f : failures) {
        const std::string fault = f.fault;
        const std::string device = fault.substr(0, fault.find(':'));
        const Row r = RowOf(rows, device);
        EXPECT_EQ(r.at("result"), f.result) << device;
        EXPECT_EQ(r.at("reason"), f.reason) << device;
        EXPECT_FALSE(r.at("detail").empty()) << device;
    }
}

// Faults from around the device, during a job: the operator's pins, another process holding the
// device, the file or the output's folder changed under a running job.
TEST(CliRecords, FaultsAroundTheDeviceAreRecordedWithTheirReason) {
    const std::vector<std::string> slow = {"--sim-profile", "realistic", "--sim-time-scale"};
    const struct {
        const char* reason;
        std::vector<std::string> args;
        const char* scale;  // of the simulated timings; null: as fast as it goes
        const char* when;   // the output that says the job is under way; null: nothing to do
        std::function<void(const CliFolder&)> act;
        bool killAfter = false;  // the job that was disturbed is not the one recorded
    } cases[] = {
        {"no-external-flash",
         {"download", "raw.bin", "--ex-flash", "--pins", "PA0,PA1,PA2,PA3"},
         nullptr,
         nullptr,
         {}},
        {"file-changed",
         {"download", "fw.up"},
         "5",
         "10%",
         [](const CliFolder& dir) { std::filesystem::resize_file(dir / "fw.up", 1000); }},
        // A raw file's length is taken before its first sector is written.
        {"file-unreadable",
         {"download", "raw.bin", "--ex-flash"},
         "10",
         "10%",
         [](const CliFolder& dir) { std::filesystem::resize_file(dir / "raw.bin", 1000); }},
        {"output-unwritable",
         {"read", "--output", "out/back.bin"},
         "40",
         "%",
         [](const CliFolder& dir) { std::filesystem::remove_all(dir / "out"); }},
        {"busy",
         {"download", "fw.up", "--sim-dir", "flash"},
         "5",
         "10%",
         [](const CliFolder& dir) {
             const RunResult second = dir.Run({"download", "fw.up", "--simulate", "1", "--sim-dir", "flash",
                                               "--records", "r.sqlite", "-q"});
             EXPECT_EQ(second.exitCode, 1) << second.out << second.err;
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CliFolder dir;
        WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(kDataSize, 11)));
        WriteBytes(dir / "raw.bin", SomeData(40000, 12));
        std::filesystem::create_directory(dir / "out");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--simulate", "1", "--records", "r.sqlite"});
        if (c.scale != nullptr) {
            args.insert(args.end(), slow.begin(), slow.end());
            args.push_back(c.scale);
        }
        int fd = -1;
        const pid_t pid = dir.Spawn(args, &fd);
        std::string out;
        if (c.when != nullptr) {
            EXPECT_TRUE(ReadUntil(fd, c.when, out, std::chrono::seconds(30))) << out;
            c.act(dir);
            if (c.killAfter) ::kill(pid, SIGKILL);
        }
        const int exitCode = Finish(pid, fd, out);
        if (!c.killAfter) {
            EXPECT_EQ(exitCode, 1) << out;
        }

        std::vector<Row> rows;
        for (const Row& r : History(dir))
            if (r.at("reason") == c.reason) rows.push_back(r);
        ASSERT_EQ(rows.size(), 1u) << out;
        EXPECT_EQ(rows[0].at("result"), "failed");
        EXPECT_FALSE(rows[0].at("detail").empty());
    }
}

#endif  // _WIN32

TEST(CliRecords, EachOperationIsRecordedByItsName) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(kDataSize, 4)));
    const struct {
        std::vector<std::string> args;
        const char* operation;
        const char* path;
    } cases[] = {
        {{"download", "fw.up", "--ex-flash", "--reset-after"}, "download", "external"},
        {{"erase", "--all", "--erase-4k"}, "erase", "internal"},
        {{"random-test"}, "random-test", "internal"},
        {{"read", "--output", "back.bin"}, "read", ""},
        {{"verify", "fw.up"}, "verify", "internal"},
        {{"watch", "fw.up", "--count", "1", "--sim-attach-after", "50"}, "download", "internal"},
        {{"download", "fw.up", "--simulate-pc", "1", "--device", "simpc0"}, "download", "pc-mode"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--simulate", "1", "--records", "r.sqlite", "-q"});
        const RunResult r = dir.Run(args);
        (void)r;  // verify fails on a chip the random test left behind; the record says so
        const std::vector<Row> rows = History(dir, {"--limit", "1"});
        ASSERT_EQ(rows.size(), 1u) << c.operation;
        EXPECT_EQ(rows[0].at("operation"), c.operation);
        EXPECT_EQ(rows[0].at("path"), c.path) << c.operation;
    }
    const std::vector<Row> rows = History(dir);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[6].at("pins"), "PB5,PB6,PB7,PB8");  // the external download
    EXPECT_EQ(rows[6].at("resetAfter"), "1");
    EXPECT_EQ(rows[5].at("eraseUnit"), "4K");  // the erase
}

#ifndef _WIN32
// A process killed in the middle of a job leaves a started record; the next start of the tool
// finds its process gone and records the job as interrupted. (On Windows, app_tests' Records
// covers rows of a dead process.)
TEST(CliRecords, AJobCutShortByACrashIsRecordedAsInterrupted) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(kDataSize, 5)));
    int fd = -1;
    const pid_t pid = dir.Spawn({"download", "fw.up", "--simulate", "1", "--records", "r.sqlite", "--station",
                                 "line7", "--sim-profile", "realistic", "--sim-time-scale", "20"},
                                &fd);
    std::string out;
    ASSERT_TRUE(ReadUntil(fd, "10%", out, std::chrono::seconds(30))) << out;
    ::kill(pid, SIGKILL);
    Finish(pid, fd, out);

    // Looked at under the station's name, as the job was recorded.
    const std::vector<Row> rows = History(dir, {"--station", "line7"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("result"), "interrupted");
    EXPECT_EQ(rows[0].at("reason"), "interrupted");
    EXPECT_EQ(rows[0].at("endedAt"), "");
}
#endif  // _WIN32

TEST(CliRecords, HistoryFiltersAndFormats) {
    CliFolder dir;
    // A path that needs quoting in CSV (Windows file names hold no quotes).
#ifdef _WIN32
    const std::string odd = "fw, two.up";
#else
    const std::string odd = "fw, \"two\".up";
#endif
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(kDataSize, 6)));
    WriteBytes(dir / odd, MakeUpdateImage(SomeData(kDataSize, 7)));
    std::ofstream(dir / "slots.ini") << "[slots]\n0-1=A1\n0-2=B2\n";
    const std::vector<std::string> common = {"--records", "r.sqlite", "--slots", "slots.ini", "-q"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), common.begin(), common.end());
        dir.Run(args);
    };
    run({"download", "fw.up", "--simulate", "2"});                              // sim0 ok, sim1 ok
    run({"download", odd, "--simulate", "2", "--sim-fault", "sim1:crc-swap"});  // sim0 ok, sim1 failed
    run({"erase", "--all", "--simulate", "3"});                                 // sim0..sim2 ok

    const std::vector<Row> all = History(dir);
    ASSERT_EQ(all.size(), 7u);
    for (size_t i = 1; i < all.size(); ++i) EXPECT_GE(all[i - 1].at("startedAt"), all[i].at("startedAt"));
    const std::string day = all[0].at("startedAt").substr(0, 10);
    const std::string sha = Sha256Sum(dir / odd);

    const struct {
        std::vector<std::string> args;
        size_t count;
    } cases[] = {
        {{"--device", "sim1"}, 3},
        {{"--device", "slot:B2"}, 3},
        {{"--device", "serial:BRVSIM0002"}, 1},
        {{"--device", "sim0", "--device", "sim2"}, 4},
        {{"--slot", "A1"}, 3},
        {{"--result", "failed"}, 1},
        {{"--result", "interrupted"}, 0},
        {{"--image", sha.substr(0, 10)}, 2},
        {{"--image", "fw.up"}, 2},
        {{"--image", (dir / odd).string()}, 2},
        {{"--since", day}, 7},
        {{"--until", day}, 7},
        {{"--since", day + "T23:59:59.999Z", "--until", "9999"}, 0},
        {{"--until", "2000-01-01"}, 0},
        {{"--limit", "2"}, 2},
        {{"--slot", "B2", "--result", "ok", "--limit", "1"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(History(dir, c.args).size(), c.count);
    }
    const std::vector<Row> failed = History(dir, {"--result", "failed"});
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].at("device"), "sim1");
    EXPECT_EQ(failed[0].at("reason"), "verify-mismatch");
    EXPECT_THAT(Devices(History(dir, {"--limit", "3"})), UnorderedElementsAre("sim0", "sim1", "sim2"));

    // CSV: a header row naming the JSON keys, then the same records, field for field.
    const RunResult csv = dir.Run({"history", "--records", "r.sqlite", "--csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto table = ParseCsv(csv.out);
    ASSERT_EQ(table.size(), all.size() + 1);
    std::vector<std::string> keys;
    for (const auto& [key, value] : all[0]) keys.push_back(key);
    EXPECT_THAT(table[0], UnorderedElementsAreArray(keys));
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(table[i + 1].size(), table[0].size());
        for (size_t k = 0; k < table[0].size(); ++k) EXPECT_EQ(table[i + 1][k], all[i].at(table[0][k]));
    }

    // The table names each record on a line of its own.
    const RunResult text = dir.Run({"history", "--records", "r.sqlite"});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(Lines(text.out).size(), all.size() + 1);

    // The summary: per reason and per slot.
    const RunResult summary = dir.Run({"history", "--records", "r.sqlite", "--summary", "--json"});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    std::vector<Row> lines;
    for (const std::string& line : Lines(summary.out)) {
        EXPECT_TRUE(IsValidJson(line)) << line;
        lines.push_back(ParseObject(line));
    }
    std::map<std::string, Row> bySlot;
    Row total, reason;
    for (const Row& l : lines) {
        if (l.at("summary") == "total") total = l;
        if (l.at("summary") == "reason") reason = l;
        if (l.at("summary") == "slot") bySlot[l.at("slot")] = l;
    }
    EXPECT_EQ(total["records"], "7");
    EXPECT_EQ(total["failed"], "1");
    EXPECT_EQ(reason["reason"], "verify-mismatch");
    EXPECT_EQ(reason["records"], "1");
    EXPECT_EQ(bySlot["B2"]["records"], "3");
    EXPECT_EQ(bySlot["B2"]["failed"], "1");
    EXPECT_NEAR(std::stod(bySlot["B2"]["failureRate"]), 1.0 / 3.0, 1e-3);
    EXPECT_EQ(std::stod(bySlot["A1"]["failureRate"]), 0.0);
    EXPECT_EQ(bySlot[""]["records"], "1");  // sim2 sits in no slot
}

// The station's name: --station, else the settings key station, else the host name. The settings
// key recordsUrl names the central database when --records-url does not.
TEST(CliRecords, TheStationIsNamedByOptionElseSettingsElseHost) {
#ifdef _WIN32
    const char* computer = std::getenv("COMPUTERNAME");
    ASSERT_NE(computer, nullptr);
    const std::string host = computer;
#else
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
#endif
    const struct {
        const char* settings;
        std::vector<std::string> args;
        std::string station;
    } cases[] = {
        {"", {}, host},
        {"station=line5\nrecordsUrl=postgresql:///brevload?host=/nonexistent\n", {}, "line5"},
        {"station=line5\n", {"--station", "line7"}, "line7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.station);
        CliFolder dir;
        std::ofstream(dir / "confile.inf") << "[setting]\n" << c.settings;
        WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(1000, 13)));
        std::vector<std::string> args = {"download",  "fw.up",    "--simulate", "1",
                                         "--records", "r.sqlite", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult run = dir.Run(args);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<Row> rows = History(dir);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].at("station"), c.station);
        // Only the settings that name a database have one to sync with.
        const RunResult sync = dir.Run({"records", "sync", "--records", "r.sqlite"});
        const bool url = std::string(c.settings).find("recordsUrl") != std::string::npos;
        EXPECT_EQ(sync.exitCode, url ? 1 : 2) << sync.out << sync.err;
        if (url) {
            EXPECT_THAT(sync.out, ::testing::HasSubstr("sent 0, waiting 1"));
        }
    }
}

// Two processes on one station write to the same file at the same time; every record arrives.
TEST(CliRecords, TwoProcessesWritingAtOnceLoseNothing) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(20000, 8)));
#ifdef _WIN32
    // Each run in a folder of its own (CliFolder::Run keeps its output there), both on one file.
    CliFolder other;
    WriteBytes(other / "fw.up", MakeUpdateImage(SomeData(20000, 8)));
    const std::string file = (dir / "r.sqlite").string();
    RunResult results[2];
    std::thread second([&] {
        results[1] = other.Run({"download", "fw.up", "--simulate", "8", "--records", file});
    });
    results[0] = dir.Run({"download", "fw.up", "--simulate", "8", "--records", file});
    second.join();
    for (const RunResult& r : results) EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
#else
    const std::vector<std::string> args = {"download", "fw.up", "--simulate", "8", "--records", "r.sqlite"};
    std::vector<std::pair<pid_t, int>> runs;
    for (int i = 0; i < 2; ++i) {
        int fd = -1;
        const pid_t pid = dir.Spawn(args, &fd);
        runs.emplace_back(pid, fd);
    }
    for (auto& [pid, fd] : runs) {
        std::string out;
        EXPECT_EQ(Finish(pid, fd, out), 0) << out;
    }
#endif
    const std::vector<Row> rows = History(dir);
    ASSERT_EQ(rows.size(), 16u);
    std::set<std::string> uuids;
    for (const Row& r : rows) {
        uuids.insert(r.at("uuid"));
        EXPECT_EQ(r.at("result"), "ok");
    }
    EXPECT_EQ(uuids.size(), 16u);
}

#ifndef BREVLOAD_CAN_PUSH
// A build without PostgreSQL's client keeps its records, and says so wherever a central database
// is named.
TEST(CliRecords, ABuildThatCannotPushSaysSoAndKeepsItsRecords) {
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(1000, 14)));
    const std::string url = "postgresql:///brevload?host=/nonexistent";
    const std::string cannot = "cannot push records to a central database";
    const RunResult download =
        dir.Run({"download", "fw.up", "--simulate", "1", "--records", "r.sqlite", "--records-url", url});
    EXPECT_EQ(download.exitCode, 0) << download.out << download.err;
    EXPECT_THAT(download.err, ::testing::HasSubstr(cannot));
    const std::vector<Row> rows = History(dir);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("result"), "ok");

    const RunResult sync = dir.Run({"records", "sync", "--records", "r.sqlite", "--records-url", url});
    EXPECT_EQ(sync.exitCode, 1);
    EXPECT_THAT(sync.out, ::testing::HasSubstr("sent 0, waiting 1"));
    EXPECT_THAT(sync.err, ::testing::HasSubstr(cannot));
    const RunResult init = dir.Run({"records", "init-db", url});
    EXPECT_EQ(init.exitCode, 1);
    EXPECT_THAT(init.err, ::testing::HasSubstr(cannot));
}
#endif

}  // namespace
}  // namespace brev::clitest
