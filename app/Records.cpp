#include "app/Records.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <thread>

#include "app/Slots.h"
#include "base/Utf8Path.h"
#include "image/Crc16.h"

namespace brev {
namespace {

// ---- SHA-256 (FIPS 180-4) ----
class Sha256 {
public:
    void update(const uint8_t* data, size_t length) {
        total_ += length;
        while (length > 0) {
            if (used_ == 0 && length >= 64) {
                compress(data);
                data += 64;
                length -= 64;
                continue;
            }
            const size_t n = std::min(length, size_t{64} - used_);
            std::memcpy(block_.data() + used_, data, n);
            used_ += n;
            data += n;
            length -= n;
            if (used_ == 64) {
                compress(block_.data());
                used_ = 0;
            }
        }
    }
    std::string hex() {
        const uint64_t bits = total_ * 8;
        uint8_t tail[72] = {0x80};
        const size_t pad = (used_ < 56 ? 56 : 120) - used_;
        for (int i = 0; i < 8; ++i)
            tail[pad + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (56 - 8 * i));
        update(tail, pad + 8);
        std::string out;
        char digits[9];
        for (uint32_t word : h_) {
            std::snprintf(digits, sizeof digits, "%08x", word);
            out += digits;
        }
        return out;
    }

private:
    static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void compress(const uint8_t* block) {
        static constexpr uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t{block[4 * i]} << 24) | (uint32_t{block[4 * i + 1]} << 16) |
                   (uint32_t{block[4 * i + 2]} << 8) | uint32_t{block[4 * i + 3]};
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h_[0] += a;
        h_[1] += b;
        h_[2] += c;
        h_[3] += d;
        h_[4] += e;
        h_[5] += f;
        h_[6] += g;
        h_[7] += h;
    }

    std::array<uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<uint8_t, 64> block_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

std::string MakeUuid() {
    static std::mutex mutex;
    static std::mt19937_64 random{[] {
        std::random_device rd;
        return (uint64_t{rd()} << 32) ^ rd() ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }()};
    uint64_t hi, lo;
    {
        std::lock_guard<std::mutex> lock(mutex);
        hi = random();
        lo = random();
    }
    hi = (hi & ~0xF000ULL) | 0x4000ULL;                         // version 4
    lo = (lo & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;  // RFC 4122 variant
    char text[37];
    std::snprintf(
        text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx", static_cast<unsigned long long>(hi >> 32),
        static_cast<unsigned long long>((hi >> 16) & 0xFFFF), static_cast<unsigned long long>(hi & 0xFFFF),
        static_cast<unsigned long long>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return text;
}

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return ok_; }
    Statement& text(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& integer(int i, int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    int step() { return sqlite3_step(stmt_); }
    std::string columnText(int i) const {
        const auto* p = sqlite3_column_text(stmt_, i);
        return p != nullptr ? reinterpret_cast<const char*>(p) : "";
    }
    int64_t columnInt(int i) const { return sqlite3_column_int64(stmt_, i); }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

// The image as the job reads it: size, CRC-16 of the data after the header, SHA-256 of the whole file.
ImageFacts ReadImageFacts(const std::filesystem::path& image, int64_t headerLength) {
    ImageFacts facts;
    std::ifstream in(image, std::ios::binary);
    if (!in) return facts;
    Sha256 sha;
    uint16_t crc = kCrc16CcittInit;
    std::vector<char> buffer(1 << 16);
    int64_t offset = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<int64_t>(in.gcount());
        const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
        sha.update(bytes, static_cast<size_t>(got));
        const int64_t skip = std::min(got, std::max<int64_t>(0, headerLength - offset));
        crc = Crc16CcittUpdate(crc, bytes + skip, static_cast<size_t>(got - skip));
        offset += got;
    }
    if (in.bad()) return facts;
    facts.read = true;
    facts.size = offset;
    facts.sha256 = sha.hex();
    char text[8];
    std::snprintf(text, sizeof text, "%04X", crc);
    facts.crc16 = text;
    return facts;
}

constexpr const char* kColumns =
    "id, uuid, started_at, ended_at, station, version, operation, path, erase_unit, reset_after, pins, "
    "bus, device, slot, port_path, serial, flash_id, image_path, image_size, header_length, data_crc16, "
    "image_sha256, bytes, result, reason, detail, duration_ms, sent";

RecordRow ReadRow(const Statement& s) {
    RecordRow r;
    int i = 0;
    r.id = s.columnInt(i++);
    r.uuid = s.columnText(i++);
    r.startedAt = s.columnText(i++);
    r.endedAt = s.columnText(i++);
    r.station = s.columnText(i++);
    r.version = s.columnText(i++);
    r.operation = s.columnText(i++);
    r.path = s.columnText(i++);
    r.eraseUnit = s.columnText(i++);
    r.resetAfter = static_cast<int>(s.columnInt(i++));
    r.pins = s.columnText(i++);
    r.bus = s.columnText(i++);
    r.device = s.columnText(i++);
    r.slot = s.columnText(i++);
    r.portPath = s.columnText(i++);
    r.serial = s.columnText(i++);
    r.flashId = s.columnText(i++);
    r.imagePath = s.columnText(i++);
    r.imageSize = s.columnInt(i++);
    r.headerLength = s.columnInt(i++);
    r.dataCrc16 = s.columnText(i++);
    r.sha256 = s.columnText(i++);
    r.bytes = s.columnInt(i++);
    r.result = s.columnText(i++);
    r.reason = s.columnText(i++);
    r.detail = s.columnText(i++);
    r.durationMs = s.columnInt(i++);
    r.sent = s.columnInt(i++) != 0;
    return r;
}

// Each step takes the schema from version N-1 to N; a file's version says which have run.
constexpr const char* kMigrations[] = {
    // 1: the records.
    "CREATE TABLE records ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " started_at TEXT NOT NULL,"
    " ended_at TEXT,"
    " station TEXT NOT NULL,"
    " version TEXT NOT NULL,"
    " operation TEXT NOT NULL,"
    " path TEXT,"
    " erase_unit TEXT,"
    " reset_after INTEGER,"
    " pins TEXT,"
    " bus TEXT,"
    " device TEXT NOT NULL,"
    " slot TEXT,"
    " port_path TEXT,"
    " serial TEXT,"
    " flash_id TEXT,"
    " image_path TEXT,"
    " image_size INTEGER,"
    " header_length INTEGER,"
    " data_crc16 TEXT,"
    " image_sha256 TEXT,"
    " bytes INTEGER,"
    " result TEXT NOT NULL,"
    " reason TEXT,"
    " detail TEXT,"
    " duration_ms INTEGER);"
    "CREATE INDEX records_started ON records(started_at);",
    // 2: the outbox of the central database, and who runs a started job.
    "ALTER TABLE records ADD COLUMN sent INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE records ADD COLUMN pid INTEGER;"
    "CREATE INDEX records_unsent ON records(sent) WHERE sent = 0;",
};
static_assert(std::size(kMigrations) == Records::kSchemaVersion);

}  // namespace

bool RecordsAvailable() { return true; }

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string FileSha256(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    Sha256 sha;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        sha.update(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) return {};
    return sha.hex();
}

std::shared_ptr<Records> Records::Open(const std::filesystem::path& file, std::string station,
                                       std::string version, std::string& error) {
    std::shared_ptr<Records> records(new Records());
    records->station_ = std::move(station);
    records->version_ = std::move(version);
    if (!records->open(file, error)) return nullptr;
    return records;
}

Records::~Records() {
    std::map<int64_t, std::future<void>> pending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending.swap(pending_);
    }
    pending.clear();  // waits for every hashing task
    sqlite3_close_v2(db_);
}

bool Records::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

bool Records::rollBack() {
    std::string ignored;
    exec("ROLLBACK", ignored);
    return false;
}

bool Records::open(const std::filesystem::path& file, std::string& error) {
    file_ = file;
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    if (sqlite3_open_v2(PathToUtf8(file).c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = PathToUtf8(file) + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open");
        return false;
    }
    // Other processes of the station write to the same file: wait for them rather than fail.
    sqlite3_busy_timeout(db_, 10000);
    // Processes opening a new file at once race for WAL mode and the schema, and SQLite answers
    // the loser "database is locked" without waiting (waiting could deadlock): try again.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        error.clear();
        if (exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error) && migrate(error)) break;
        if (error.find("database is locked") == std::string::npos ||
            std::chrono::steady_clock::now() > giveUp) {
            error = PathToUtf8(file) + ": " + error;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Jobs of processes that died never finished: they were interrupted.
    Statement started(db_, "SELECT id, pid FROM records WHERE result = 'started' AND station = ?1");
    started.text(1, station_);
    std::vector<int64_t> dead;
    while (started.ok() && started.step() == SQLITE_ROW) {
        if (!ProcessAlive(started.columnInt(1))) dead.push_back(started.columnInt(0));
    }
    for (int64_t id : dead) {
        Statement mark(
            db_,
            "UPDATE records SET result = 'interrupted', reason = 'interrupted', "
            "detail = 'the program ended before the job did' WHERE id = ?1 AND result = 'started'");
        mark.integer(1, id);
        mark.step();
    }
    return true;
}

bool Records::migrate(std::string& error) {
    // One writer migrates; the others wait for it and then find nothing left to do.
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    if (!exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error))
        return rollBack();
    int64_t version = 0;
    {
        Statement read(db_, "SELECT MAX(version) FROM schema_version");
        if (read.ok() && read.step() == SQLITE_ROW) version = read.columnInt(0);
    }
    if (version > kSchemaVersion) {
        error = "made by a newer brevload (schema version " + std::to_string(version) + ")";
        return rollBack();
    }
    for (int64_t v = version; v < kSchemaVersion; ++v) {
        if (!exec(kMigrations[v], error)) return rollBack();
    }
    if (version < kSchemaVersion) {
        Statement set(db_, "INSERT INTO schema_version (version) VALUES (?1)");
        set.integer(1, kSchemaVersion);
        if (set.step() != SQLITE_DONE) {
            error = sqlite3_errmsg(db_);
            return rollBack();
        }
    }
    return exec("COMMIT", error);
}

void Records::SetOnCommitted(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onCommitted_ = std::move(hook);
}

void Records::notifyCommitted() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = onCommitted_;
    }
    if (hook) hook();
}

int64_t Records::Started(const JobRecordStart& start) {
    RecordRow r;
    r.uuid = MakeUuid();
    r.startedAt = UtcNow();
    r.eraseUnit = start.eraseUse4K != 0 ? "4K" : "64K";
    if (settings_ != nullptr) {
        r.resetAfter = settings_->resetAfterDownloadFlag.load();
        const cmd::BusParams bus = settings_->bus();
        char text[32];
        std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X", bus.clkDiv, bus.lineMode,
                      bus.chipSelIndirect, bus.chipSelDirect, bus.chipType);
        r.bus = text;
    }
    // Months later the record must still name the file, wherever it was started from.
    std::string imagePath = start.imagePath;
    if (!imagePath.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(PathFromUtf8(imagePath), ec);
        if (!ec) imagePath = PathToUtf8(absolute.lexically_normal());
    }

    std::lock_guard<std::mutex> lock(mutex_);
    Statement insert(
        db_,
        "INSERT INTO records (uuid, started_at, station, version, operation, path, erase_unit, "
        "reset_after, pins, bus, device, slot, port_path, serial, image_path, image_size, "
        "header_length, data_crc16, image_sha256, bytes, result, pid) VALUES (?1, ?2, ?3, ?4, ?5, "
        "?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, 0, 'started', ?20)");
    if (!insert.ok()) {
        lastError_ = sqlite3_errmsg(db_);
        return 0;
    }
    insert.text(1, r.uuid).text(2, r.startedAt).text(3, station_).text(4, version_).text(5, start.operation);
    insert.text(6, start.path)
        .text(7, r.eraseUnit)
        .integer(8, r.resetAfter)
        .text(9, start.pins)
        .text(10, r.bus);
    insert.text(11, start.deviceName).text(12, start.slot).text(13, start.portPath).text(14, start.serial);
    insert.text(15, imagePath).integer(16, r.imageSize).integer(17, start.headerLength);
    insert.text(18, r.dataCrc16).text(19, r.sha256).integer(20, CurrentProcessId());
    if (insert.step() != SQLITE_DONE) {
        lastError_ = sqlite3_errmsg(db_);
        return 0;
    }
    const int64_t token = sqlite3_last_insert_rowid(db_);
    // Hashing a large image takes longer than the rest of the record: it runs beside the job, which
    // reads the same file anyway, and is written as soon as it is known.
    if (!imagePath.empty() && start.operation != "read") {
        pending_[token] = std::async(
            std::launch::async, [this, token, image = PathFromUtf8(imagePath), header = start.headerLength] {
                const ImageFacts facts = ReadImageFacts(image, header);
                if (facts.read) writeImageFacts(token, facts);
            });
    }
    return token;
}

void Records::writeImageFacts(int64_t token, const ImageFacts& facts) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement update(db_,
                     "UPDATE records SET image_size = ?1, data_crc16 = ?2, image_sha256 = ?3 WHERE id = ?4");
    update.integer(1, facts.size).text(2, facts.crc16).text(3, facts.sha256).integer(4, token);
    if (update.step() != SQLITE_DONE) lastError_ = sqlite3_errmsg(db_);
}

void Records::Finished(int64_t token, const JobOutcome& outcome) {
    std::future<void> hashing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto it = pending_.find(token); it != pending_.end()) {
            hashing = std::move(it->second);
            pending_.erase(it);
        }
    }
    if (hashing.valid()) hashing.wait();
    const std::string result = outcome.success                   ? "ok"
                               : outcome.reason == "interrupted" ? "interrupted"
                                                                 : "failed";
    std::string flashId;
    if (outcome.flashId) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", *outcome.flashId);
        flashId = text;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Statement update(
            db_,
            "UPDATE records SET ended_at = ?1, flash_id = ?2, bytes = ?3, result = ?4, reason = ?5, "
            "detail = ?6, duration_ms = CAST(ROUND((julianday(?1) - julianday(started_at)) * "
            "86400000) AS INTEGER) WHERE id = ?7");
        if (!update.ok()) {
            lastError_ = sqlite3_errmsg(db_);
            return;
        }
        update.text(1, UtcNow()).text(2, flashId).integer(3, static_cast<int64_t>(outcome.bytesWritten));
        update.text(4, result).text(5, outcome.reason).text(6, outcome.detail).integer(7, token);
        if (update.step() != SQLITE_DONE) {
            lastError_ = sqlite3_errmsg(db_);
            return;
        }
    }
    notifyCommitted();
}

std::vector<RecordRow> Records::Query(const RecordFilter& filter, std::string& error) {
    std::string sql = std::string("SELECT ") + kColumns + " FROM records WHERE 1";
    if (!filter.slot.empty()) sql += " AND slot = ?1";
    if (!filter.result.empty()) sql += " AND result = ?2";
    if (!filter.since.empty()) sql += " AND substr(started_at, 1, length(?3)) >= ?3";
    if (!filter.until.empty()) sql += " AND substr(started_at, 1, length(?4)) <= ?4";
    if (!filter.image.empty()) sql += " AND (image_path = ?5 OR image_sha256 LIKE lower(?5) || '%')";
    sql += " ORDER BY started_at DESC, id DESC";
    std::vector<RecordRow> rows;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement query(db_, sql.c_str());
    if (!query.ok()) {
        error = sqlite3_errmsg(db_);
        return rows;
    }
    query.text(1, filter.slot).text(2, filter.result).text(3, filter.since).text(4, filter.until);
    query.text(5, filter.image);
    int step;
    while ((step = query.step()) == SQLITE_ROW) {
        RecordRow row = ReadRow(query);
        if (!filter.devices.empty()) {
            PresentDevice device;
            device.name = row.device;
            device.slot = row.slot;
            device.location.portPath = row.portPath;
            device.location.serial = row.serial;
            bool match = false;
            for (const std::string& selector : filter.devices) match = match || MatchDevice(selector, device);
            if (!match) continue;
        }
        rows.push_back(std::move(row));
        if (filter.limit > 0 && static_cast<int>(rows.size()) >= filter.limit) break;
    }
    if (step != SQLITE_ROW && step != SQLITE_DONE) error = sqlite3_errmsg(db_);
    return rows;
}

std::vector<RecordRow> Records::Unsent(int limit, std::string& error) {
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM records WHERE sent = 0 AND result <> 'started' ORDER BY id LIMIT ?1";
    std::vector<RecordRow> rows;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement query(db_, sql.c_str());
    if (!query.ok()) {
        error = sqlite3_errmsg(db_);
        return rows;
    }
    query.integer(1, limit);
    while (query.step() == SQLITE_ROW) rows.push_back(ReadRow(query));
    return rows;
}

bool Records::MarkSent(const std::vector<std::string>& uuids, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    for (const std::string& uuid : uuids) {
        Statement mark(db_, "UPDATE records SET sent = 1 WHERE uuid = ?1");
        mark.text(1, uuid);
        if (mark.step() != SQLITE_DONE) {
            error = sqlite3_errmsg(db_);
            return rollBack();
        }
    }
    return exec("COMMIT", error);
}

int64_t Records::CountUnsent(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement count(db_, "SELECT COUNT(*) FROM records WHERE sent = 0 AND result <> 'started'");
    if (!count.ok() || count.step() != SQLITE_ROW) {
        error = sqlite3_errmsg(db_);
        return -1;
    }
    return count.columnInt(0);
}

}  // namespace brev
