// The station's records file: its hashes, its schema migration and rows left by a dead process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>

#include "app/Records.h"
#include "tests/support/Pattern.h"
#include "tests/support/Sha256Sum.h"
#include "tests/support/TempDir.h"

namespace brev::test {
namespace {

void Exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
}

TEST(Records, Sha256OfFilesEqualsAnIndependentOne) {
    TempDir dir;
    // Around the padding's edges (55/56/64 bytes), and more than one read buffer.
    for (size_t size :
         {size_t{0}, size_t{3}, size_t{55}, size_t{56}, size_t{64}, size_t{1000}, size_t{200000}}) {
        SCOPED_TRACE(size);
        const auto file = dir / ("f" + std::to_string(size));
        WriteBytes(file, Pattern(size, static_cast<uint32_t>(size)));
        const std::string expected = Sha256Sum(file);
        ASSERT_EQ(expected.size(), 64u);
        EXPECT_EQ(FileSha256(file), expected);
    }
}

// A file from the first schema (no outbox column) keeps its rows, which then wait to be sent,
// and takes new records.
TEST(Records, AnOlderSchemaIsMigrated) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    TempDir dir;
    const auto file = dir / "records.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    Exec(db,
         "CREATE TABLE schema_version (version INTEGER NOT NULL); INSERT INTO schema_version VALUES (1);"
         "CREATE TABLE records (id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, started_at TEXT NOT NULL,"
         " ended_at TEXT, station TEXT NOT NULL, version TEXT NOT NULL, operation TEXT NOT NULL, path TEXT,"
         " erase_unit TEXT, reset_after INTEGER, pins TEXT, bus TEXT, device TEXT NOT NULL, slot TEXT,"
         " port_path TEXT, serial TEXT, flash_id TEXT, image_path TEXT, image_size INTEGER, header_length "
         "INTEGER,"
         " data_crc16 TEXT, image_sha256 TEXT, bytes INTEGER, result TEXT NOT NULL, reason TEXT, detail TEXT,"
         " duration_ms INTEGER);"
         "INSERT INTO records (uuid, started_at, ended_at, station, version, operation, device, slot, result,"
         " reason) VALUES ('0b6c3b3e-58c4-4a53-9d0e-2b1f6c1c0a01', '2026-01-02T03:04:05.006Z',"
         " '2026-01-02T03:04:06.000Z', 'st1', '1.0.0', 'download', 'sdb', 'A3', 'failed', 'erase-failed');");
    sqlite3_close(db);

    std::string error;
    const auto records = Records::Open(file, "st1", "9.9", error);
    ASSERT_TRUE(records) << error;
    EXPECT_EQ(records->CountUnsent(error), 1);
    JobRecordStart start;
    start.operation = "erase";
    start.deviceName = "sdc";
    records->Finished(records->Started(start), JobOutcome{});
    const auto rows = records->Query({}, error);
    ASSERT_EQ(rows.size(), 2u) << error;
    EXPECT_EQ(rows[0].device, "sdc");
    EXPECT_EQ(rows[1].slot, "A3");
    EXPECT_EQ(rows[1].reason, "erase-failed");
    EXPECT_EQ(records->CountUnsent(error), 2);

    // Opened again, nothing runs twice.
    ASSERT_TRUE(Records::Open(file, "st1", "9.9", error)) << error;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT group_concat(version) FROM schema_version", -1, &stmt, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "1,2");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// A job still running in a live process stays "started"; one whose process is gone becomes
// interrupted when the file is next opened.
TEST(Records, StartedRowsOfDeadProcessesBecomeInterrupted) {
    if (!RecordsAvailable()) GTEST_SKIP() << "this build keeps no records";
    TempDir dir;
    const auto file = dir / "records.sqlite";
    std::string error;
    {
        const auto records = Records::Open(file, "st1", "1", error);
        ASSERT_TRUE(records) << error;
        JobRecordStart start;
        start.operation = "download";
        start.deviceName = "live";
        ASSERT_NE(records->Started(start), 0);
        start.deviceName = "dead";
        ASSERT_NE(records->Started(start), 0);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    Exec(db, "UPDATE records SET pid = 0x7FFFFFF0 WHERE device = 'dead'");  // no such process
    sqlite3_close(db);

    const auto records = Records::Open(file, "st1", "1", error);
    ASSERT_TRUE(records) << error;
    RecordFilter filter;
    filter.devices = {"dead"};
    auto rows = records->Query(filter, error);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].result, "interrupted");
    EXPECT_EQ(rows[0].reason, "interrupted");
    filter.devices = {"live"};
    rows = records->Query(filter, error);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].result, "started");
    EXPECT_EQ(records->CountUnsent(error), 1);  // a running job is not sent yet
}

}  // namespace
}  // namespace brev::test
