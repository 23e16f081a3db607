#include "app/RecordsPush.h"

#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/records/CentralSchema.h"

namespace brev {
namespace {

constexpr int kBatch = 500;
constexpr int kColumns = 26;

// A connection that gives up quickly: a dead server must not hold the push for long.
struct Connection {
    explicit Connection(const std::string& url) {
        const char* keys[] = {"dbname", "connect_timeout", "options", "application_name", nullptr};
        const char* values[] = {url.c_str(), "3", "-c statement_timeout=30000", "brevload", nullptr};
        conn = PQconnectdbParams(keys, values, 1);
    }
    ~Connection() { PQfinish(conn); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return conn != nullptr && PQstatus(conn) == CONNECTION_OK; }
    std::string error() const {
        std::string text = conn != nullptr ? PQerrorMessage(conn) : "out of memory";
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }
    bool exec(const char* sql, std::string& why) {
        PGresult* result = PQexec(conn, sql);
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
        why = error();
        return false;
    }
    PGconn* conn = nullptr;
};

std::string InsertSql(size_t rows) {
    std::string sql =
        "INSERT INTO brevload_records (uuid, started_at, ended_at, station, version, operation, path, "
        "erase_unit, reset_after, pins, bus, device, slot, port_path, serial, flash_id, image_path, "
        "image_size, header_length, data_crc16, image_sha256, bytes, result, reason, detail, duration_ms) "
        "VALUES ";
    int n = 1;
    for (size_t r = 0; r < rows; ++r) {
        sql += r == 0 ? "(" : ",(";
        for (int c = 0; c < kColumns; ++c) {
            sql += (c == 0 ? "$" : ",$") + std::to_string(n++);
            if (c == 0) sql += "::uuid";
            if (c == 1 || c == 2) sql += "::timestamptz";
        }
        sql += ")";
    }
    return sql + " ON CONFLICT (uuid) DO NOTHING";
}

void AddValues(const RecordRow& r, std::vector<std::string>& values, std::vector<bool>& null) {
    auto text = [&](const std::string& v, bool emptyIsNull = true) {
        values.push_back(v);
        null.push_back(emptyIsNull && v.empty());
    };
    text(r.uuid);
    text(r.startedAt);
    text(r.endedAt);
    text(r.station, false);
    text(r.version, false);
    text(r.operation, false);
    text(r.path);
    text(r.eraseUnit);
    text(std::to_string(r.resetAfter));
    text(r.pins);
    text(r.bus);
    text(r.device, false);
    text(r.slot);
    text(r.portPath);
    text(r.serial);
    text(r.flashId);
    text(r.imagePath);
    text(std::to_string(r.imageSize));
    text(std::to_string(r.headerLength));
    text(r.dataCrc16);
    text(r.sha256);
    text(std::to_string(r.bytes));
    text(r.result, false);
    text(r.reason);
    text(r.detail);
    text(std::to_string(r.durationMs));
}

}  // namespace

std::string PushUnavailableReason() { return {}; }

PushResult PushRecords(Records& records, const std::string& url) {
    PushResult result;
    std::string error;
    Connection connection(url);
    if (!connection.ok()) {
        result.error = connection.error();
        result.waiting = records.CountUnsent(error);
        return result;
    }
    for (;;) {
        const std::vector<RecordRow> rows = records.Unsent(kBatch, error);
        if (!error.empty()) {
            result.error = error;
            break;
        }
        if (rows.empty()) break;
        std::vector<std::string> values;
        std::vector<bool> null;
        values.reserve(rows.size() * kColumns);
        for (const RecordRow& r : rows) AddValues(r, values, null);
        std::vector<const char*> params(values.size());
        for (size_t i = 0; i < values.size(); ++i) params[i] = null[i] ? nullptr : values[i].c_str();
        const std::string sql = InsertSql(rows.size());
        // One statement is one transaction: all of the batch is committed, or none of it.
        PGresult* insert = PQexecParams(connection.conn, sql.c_str(), static_cast<int>(params.size()),
                                        nullptr, params.data(), nullptr, nullptr, 0);
        const bool committed = PQresultStatus(insert) == PGRES_COMMAND_OK;
        PQclear(insert);
        if (!committed) {
            result.error = connection.error();
            break;
        }
        std::vector<std::string> uuids;
        uuids.reserve(rows.size());
        for (const RecordRow& r : rows) uuids.push_back(r.uuid);
        // Marking fails only locally; the next push sends them again and the server keeps one row each.
        if (!records.MarkSent(uuids, error)) {
            result.error = error;
            break;
        }
        result.sent += static_cast<int64_t>(rows.size());
    }
    std::string countError;
    result.waiting = records.CountUnsent(countError);
    return result;
}

bool InitCentralDatabase(const std::string& url, std::string& error) {
    Connection connection(url);
    if (!connection.ok()) {
        error = connection.error();
        return false;
    }
    return connection.exec(kCentralSchema, error);
}

struct RecordsPusher::Shared {
    std::shared_ptr<Records> records;
    std::string url;
    std::chrono::milliseconds retry;
    std::mutex mutex;
    std::condition_variable wake, done;
    bool woken = false, stopping = false, finished = false;
    std::string lastError;
};

RecordsPusher::RecordsPusher(std::shared_ptr<Records> records, std::string url,
                             std::chrono::milliseconds retry, std::chrono::milliseconds stopWait)
    : shared_(std::make_shared<Shared>()), stopWait_(stopWait) {
    shared_->records = std::move(records);
    shared_->url = std::move(url);
    shared_->retry = retry;
    thread_ = std::thread([shared = shared_] { Run(shared); });
}

RecordsPusher::~RecordsPusher() { Stop(); }

void RecordsPusher::Wake() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->woken = true;
    }
    shared_->wake.notify_one();
}

void RecordsPusher::Stop() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_one();
    if (!shared_->done.wait_for(lock, stopWait_, [this] { return shared_->finished; })) {
        // The thread holds what it uses; the process may end under it.
        thread_.detach();
        return;
    }
    lock.unlock();
    thread_.join();
}

std::string RecordsPusher::lastError() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lastError;
}

void RecordsPusher::Run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    // What waits from earlier runs goes first.
    bool due = true;
    for (;;) {
        bool stopping;
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            if (!due) s.wake.wait_for(lock, s.retry, [&s] { return s.woken || s.stopping; });
            s.woken = false;
            stopping = s.stopping;
        }
        std::string ignored;
        if (!stopping && s.records->CountUnsent(ignored) == 0) {
            due = false;
            continue;
        }
        const PushResult pushed = PushRecords(*s.records, s.url);
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.lastError = pushed.error;
            if (stopping) {
                s.finished = true;
                s.done.notify_all();
                return;
            }
        }
        due = false;
    }
}

}  // namespace brev
