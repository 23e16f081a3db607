// Records pushed to a real PostgreSQL server started for the test: pushed as they are kept,
// waiting while the server is down, synced exactly once when it is back.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <thread>

#include "CliRun.h"
#include "PgServer.h"
#include "app/RecordsPush.h"
#include "app/Station.h"
#include "image/ImageChecker.h"
#include "ops/Jobs.h"
#include "tests/support/QuietNotifier.h"

namespace brev::clitest {
namespace {

using ::testing::HasSubstr;

// The uuids in the central table; empty with a failure when the server cannot be asked.
std::set<std::string> CentralUuids(const std::string& url) {
    std::set<std::string> uuids;
    PGconn* conn = PQconnectdb(url.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        ADD_FAILURE() << PQerrorMessage(conn);
        PQfinish(conn);
        return uuids;
    }
    PGresult* result = PQexec(conn, "SELECT uuid::text FROM brevload_records");
    EXPECT_EQ(PQresultStatus(result), PGRES_TUPLES_OK) << PQerrorMessage(conn);
    for (int i = 0; i < PQntuples(result); ++i) uuids.insert(PQgetvalue(result, i, 0));
    PQclear(result);
    PQfinish(conn);
    return uuids;
}

// The uuids in the station's file.
std::set<std::string> LocalUuids(const CliFolder& dir) {
    std::set<std::string> uuids;
    const RunResult r = dir.Run({"history", "--records", "r.sqlite", "--csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    for (size_t i = 1; i < lines.size(); ++i) uuids.insert(lines[i].substr(0, 36));
    return uuids;
}

#define START_SERVER(server)                                              \
    do {                                                                  \
        if (!(server).installed()) {                                      \
            if (std::getenv("CI") != nullptr) FAIL() << (server).error(); \
            GTEST_SKIP() << (server).error();                             \
        }                                                                 \
        ASSERT_TRUE((server).Start()) << (server).error();                \
    } while (0)

TEST(CentralRecords, PushedWaitingWhileDownAndSyncedOnce) {
    PgServer server;
    START_SERVER(server);
    const std::string url = server.url();
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(150000, 9)));

    RunResult r = dir.Run({"records", "init-db", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(dir.Run({"records", "init-db", url}).exitCode, 0);  // again: nothing changes

    // Pushed as they are kept.
    const std::vector<std::string> records = {"--records", "r.sqlite", "--records-url", url};
    std::vector<std::string> args = {"download", "fw.up", "--simulate", "2", "-q"};
    args.insert(args.end(), records.begin(), records.end());
    r = dir.Run(args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(CentralUuids(url).size(), 2u);
    EXPECT_EQ(CentralUuids(url), LocalUuids(dir));

    // The server goes away in the middle of a run: the devices still succeed, their records wait.
    args = {"download", "fw.up", "--simulate", "3", "--sim-profile", "realistic", "--sim-time-scale", "5"};
    args.insert(args.end(), records.begin(), records.end());
    int fd = -1;
    const pid_t pid = dir.Spawn(args, &fd);
    std::string out;
    ASSERT_TRUE(ReadUntil(fd, "10%", out, std::chrono::seconds(30))) << out;
    ASSERT_TRUE(server.Stop()) << server.error();
    EXPECT_EQ(Finish(pid, fd, out), 0) << out;
    EXPECT_THAT(out, HasSubstr("3 succeeded, 0 failed"));
    r = dir.Run({"records", "sync", "--records", "r.sqlite", "--records-url", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("sent 0, waiting 3"));
    EXPECT_EQ(LocalUuids(dir).size(), 5u);

    // Back: sync sends exactly the waiting ones.
    ASSERT_TRUE(server.Start()) << server.error();
    r = dir.Run({"records", "sync", "--records", "r.sqlite", "--records-url", url, "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(R"("sent":3,"waiting":0)"));
    EXPECT_EQ(CentralUuids(url), LocalUuids(dir));
    EXPECT_THAT(dir.Run({"records", "sync", "--records", "r.sqlite", "--records-url", url}).out,
                HasSubstr("sent 0, waiting 0"));

    // Pushed again (as after an answer lost on the way back): still one row each.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "r.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE records SET sent = 0", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    r = dir.Run({"records", "sync", "--records", "r.sqlite", "--records-url", url});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("sent 5, waiting 0"));
    EXPECT_EQ(CentralUuids(url).size(), 5u);
    EXPECT_EQ(CentralUuids(url), LocalUuids(dir));
}

// Records kept while the server is down go out by the station's background retry once it is
// back: no further job, no sync, one row each.
TEST(CentralRecords, TheRetryAloneSendsTheWaitingRecords) {
    PgServer server;
    START_SERVER(server);
    const std::string url = server.url();
    CliFolder dir;
    ASSERT_EQ(dir.Run({"records", "init-db", url}).exitCode, 0);
    ASSERT_TRUE(server.Stop()) << server.error();

    StationOptions options;
    SimFleetOptions fleet;
    fleet.downloadDevices = 2;
    options.simulation = fleet;
    options.recordsFile = dir / "r.sqlite";
    options.recordsUrl = url;
    options.recordsRetry = std::chrono::milliseconds(100);
    std::string error;
    const std::unique_ptr<Station> station = Station::Open(std::move(options), error);
    ASSERT_TRUE(station) << error;
    test::QuietNotifier notifier;
    const JobEnvironment env = station->Environment(&notifier);
    const std::vector<PresentDevice> devices = station->Scan();
    ASSERT_EQ(devices.size(), 2u);
    for (const PresentDevice& device : devices) ASSERT_TRUE(StartRandomTest(env, device, 0));
    station->registry().WaitAll();
    Records& records = *station->records();
    EXPECT_EQ(records.CountUnsent(error), 2) << error;

    ASSERT_TRUE(server.Start()) << server.error();
    // Far longer than the retry, far shorter than the default one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (records.CountUnsent(error) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(records.CountUnsent(error), 0) << station->pusher()->lastError();
    // A few more rounds of the retry change nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::set<std::string> local;
    for (const RecordRow& row : records.Query({}, error)) local.insert(row.uuid);
    EXPECT_EQ(local.size(), 2u);
    EXPECT_EQ(CentralUuids(url), local);
    EXPECT_TRUE(station->Finish(error)) << error;
    EXPECT_EQ(CentralUuids(url), local);
}

// A server that takes the connection and never answers: stopping the push does not wait for it
// to give up, and the record waits.
TEST(CentralRecords, AServerThatNeverAnswersDoesNotHoldTheStop) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "postgresql://brev@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";

    CliFolder dir;
    std::string error;
    const auto records = Records::Open(dir / "r.sqlite", "st", "1", error);
    ASSERT_TRUE(records) << error;
    JobRecordStart start;
    start.operation = "erase";
    start.deviceName = "sim0";
    records->Finished(records->Started(start), JobOutcome{});

    int connection = -1;
    {
        RecordsPusher pusher(records, url, std::chrono::hours(1), std::chrono::milliseconds(50));
        // The push of what waits has connected; the server says nothing.
        pollfd ready{listener, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 30000), 1);
        connection = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(connection, 0);
        pusher.Stop();
    }
    // Stopped while the push still waits for its answer: the connection is still open.
    char buffer[512];
    ssize_t got;
    while ((got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    }
    EXPECT_EQ(got, -1) << "the push had given up before the stop returned";
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
    EXPECT_EQ(records->CountUnsent(error), 1);
    ::close(connection);
    ::close(listener);
}

// The central row carries what the station recorded.
TEST(CentralRecords, TheCentralRowHoldsTheRecord) {
    PgServer server;
    START_SERVER(server);
    const std::string url = server.url();
    CliFolder dir;
    WriteBytes(dir / "fw.up", MakeUpdateImage(SomeData(150000, 10)));
    ASSERT_EQ(dir.Run({"records", "init-db", url}).exitCode, 0);
    const RunResult r = dir.Run({"download", "fw.up", "--simulate", "2", "--sim-fault", "sim1:crc-swap",
                                 "--records", "r.sqlite", "--records-url", url, "--station", "line9", "-q"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;

    PGconn* conn = PQconnectdb(url.c_str());
    ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
    PGresult* result =
        PQexec(conn,
               "SELECT device, station, result, coalesce(reason, ''), bytes, length(image_sha256), "
               "ended_at >= started_at FROM brevload_records ORDER BY device");
    ASSERT_EQ(PQresultStatus(result), PGRES_TUPLES_OK) << PQerrorMessage(conn);
    ASSERT_EQ(PQntuples(result), 2);
    auto row = [&](int i) {
        std::string text;
        for (int c = 0; c < PQnfields(result); ++c)
            text += std::string(c ? "|" : "") + PQgetvalue(result, i, c);
        return text;
    };
    EXPECT_EQ(row(0), "sim0|line9|ok||150000|64|t");
    EXPECT_EQ(row(1).substr(0, 33), "sim1|line9|failed|verify-mismatch");
    PQclear(result);
    PQfinish(conn);
}

}  // namespace
}  // namespace brev::clitest
