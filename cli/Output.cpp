#include "cli/Output.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <ctime>

#include "app/Slots.h"
#include "cli/Terminal.h"
#include "image/ImageChecker.h"
#include "ops/Failure.h"
#include "ops/Texts.h"

namespace brev::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(80);
constexpr size_t kBarWidth = 24;

std::string FormatBytes(uint64_t n) {
    char buf[32];
    if (n < 1024) {
        std::snprintf(buf, sizeof buf, "%" PRIu64 " B", n);
    } else if (n < 1024 * 1024) {
        std::snprintf(buf, sizeof buf, "%.1f KiB", static_cast<double>(n) / 1024.0);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(n) / (1024.0 * 1024.0));
    }
    return buf;
}

std::string FormatRate(uint64_t n, double seconds) {
    if (seconds <= 0.0) return "-";
    return FormatBytes(static_cast<uint64_t>(static_cast<double>(n) / seconds)) + "/s";
}

std::string FormatSeconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%" PRIX32, v);
    return buf;
}

const char* StateName(int state) {
    switch (state) {
        case ProgressLoading:
            return "working";
        case ProgressSuccess:
            return "done";
        case ProgressFail:
            return "failed";
        default:
            return "waiting";
    }
}

const char* ImageStateName(int state) {
    switch (state) {
        case ProgressLoading:
            return "loading";
        case ProgressSuccess:
            return "success";
        case ProgressFail:
            return "fail";
        default:
            return "unknown";
    }
}

// The text without terminal escape sequences (ESC [ ... final letter).
std::string WithoutEscapes(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

// Each line of `text` (ending in a newline or not) with `stamp` and a space in front.
std::string StampLines(const std::string& text, const std::string& stamp) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out += stamp + " " + text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return out;
}

bool Blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

#ifdef _WIN32
// The same thread-safe conversions under their Windows names (arguments the other way round).
void localtime_r(const std::time_t* t, std::tm* tm) { localtime_s(tm, t); }
void gmtime_r(const std::time_t* t, std::tm* tm) { gmtime_s(tm, t); }
#endif

std::string LocalClock() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

}  // namespace

std::string IsoTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(ms));
    return buf;
}

std::string ImageResultText(int code) {
    if (const auto message = ImageErrorText(code)) return text::Tr(std::string(*message));
    if (code == ImageOk) return "OK";
    if (code == ImageOpenFailed) return "the file cannot be opened";
    return "unknown image result";
}

JsonObject JsonEvent(const char* event, const std::string& device) {
    JsonObject obj;
    // Readers check the schema before anything else; it changes when a field changes meaning.
    obj.Add("schema", 1).Add("time", IsoTimeNow()).Add("event", event);
    if (device.empty()) {
        obj.AddNull("device");
    } else {
        obj.Add("device", device);
    }
    return obj;
}

namespace {

void AddSlot(JsonObject& obj, const std::string& slot) {
    if (slot.empty()) {
        obj.AddNull("slot");
    } else {
        obj.Add("slot", slot);
    }
}

// Why a job failed: both null on success.
void AddReason(JsonObject& obj, const JobOutcome& outcome) {
    if (outcome.success || outcome.reason.empty()) {
        obj.AddNull("reason").AddNull("detail");
    } else {
        obj.Add("reason", outcome.reason).Add("detail", outcome.detail);
    }
}

}  // namespace

COutput::COutput(OutputMode mode, bool quiet, std::FILE* out, std::FILE* err)
    : mode_(mode), quiet_(quiet), out_(out), err_(err) {}

void COutput::SetColor(bool color) {
    std::lock_guard lock(mutex_);
    color_ = color;
}

void COutput::SetLogFile(std::FILE* log) {
    std::lock_guard lock(mutex_);
    log_ = log;
}

void COutput::SetImage(const std::string& path, uint64_t size, std::optional<uint32_t> crc) {
    std::lock_guard lock(mutex_);
    imagePath_ = path;
    imageSize_ = size;
    imageCrc_ = crc;
}

void COutput::SetVerbose(bool verbose) {
    std::lock_guard lock(mutex_);
    verbose_ = verbose;
}

void COutput::SetBytesSource(std::function<uint64_t(const std::string&)> source) {
    std::lock_guard lock(mutex_);
    bytesSource_ = std::move(source);
}

void COutput::SetFinishedHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    finishedHook_ = std::move(hook);
}

void COutput::NameSlot(const std::string& name, const std::string& slot) {
    std::lock_guard lock(mutex_);
    slots_[name] = slot;
}

std::string COutput::slotOf(const std::string& name) const {
    const auto it = slots_.find(name);
    return it == slots_.end() ? std::string() : it->second;
}

std::string COutput::label(const std::string& name) const { return DeviceLabel(name, slotOf(name)); }

void COutput::emitDeviceJson(JsonObject obj, const std::string& name) {
    // Last, so readers that know an event's earlier fields find them where they were.
    if (!name.empty()) AddSlot(obj, slotOf(name));
    emitJson(obj);
}

// --- rows ----------------------------------------------------------------------------------

COutput::Row* COutput::current(const std::string& name) {
    const auto it = currentRow_.find(name);
    return it == currentRow_.end() ? nullptr : &rows_[it->second];
}

uint64_t COutput::bytes(const Row& row) const {
    if (!bytesSource_) return 0;
    const uint64_t now = bytesSource_(row.name);
    return now >= row.bytesAtBegin ? now - row.bytesAtBegin : 0;
}

bool COutput::failed(const Row& row) const {
    if (!row.started) return true;
    return row.finished && !(row.outcome && row.outcome->success);
}

void COutput::JobStarted(const std::string& name) {
    std::lock_guard lock(mutex_);
    Row row;
    row.name = name;
    row.started = true;
    row.begin = Clock::now();
    row.bytesAtBegin = bytesSource_ ? bytesSource_(name) : 0;
    rows_.push_back(std::move(row));
    currentRow_[name] = rows_.size() - 1;
    if (mode_ == OutputMode::Json && !quiet_) {
        JsonObject obj = JsonEvent("start", name);
        if (imagePath_.empty()) {
            obj.AddNull("image").AddNull("size").AddNull("crc");
        } else {
            obj.Add("image", imagePath_).Add("size", imageSize_);
            if (imageCrc_) {
                char crc[16];
                std::snprintf(crc, sizeof crc, "%04" PRIX32, *imageCrc_);  // as make-image prints it
                obj.Add("crc", crc);
            } else {
                obj.AddNull("crc");
            }
        }
        emitDeviceJson(std::move(obj), name);
    }
    if (mode_ == OutputMode::Terminal && !quiet_) redrawThrottled(true);
}

void COutput::JobNotStarted(const std::string& name, const std::string& reason) {
    std::lock_guard lock(mutex_);
    Row* row = current(name);
    if (row == nullptr || row->finished) return;
    row->started = false;
    row->finished = true;
    row->note = reason;
    row->end = Clock::now();
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("result", name)
                           .Add("success", false)
                           .Add("result", "not started")
                           .Add("reason", reason),
                       name);
    } else {
        printLine(label(name) + ": not started: " + reason);
    }
}

void COutput::DeviceMissing(const std::string& name, const std::string& reason) {
    std::lock_guard lock(mutex_);
    Row row;
    row.name = name;
    row.finished = true;
    row.note = reason;
    row.begin = row.end = Clock::now();
    rows_.push_back(std::move(row));
    currentRow_[name] = rows_.size() - 1;
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("result", name)
                           .Add("success", false)
                           .Add("result", "not present")
                           .Add("reason", reason),
                       name);
    } else {
        const std::string line = name + ": " + reason;
        if (quiet_) {
            writeErr(line);
        } else {
            printLine(line);
        }
    }
}

void COutput::NotStartedInterrupted(const std::string& name) {
    std::lock_guard lock(mutex_);
    Row row;
    row.name = name;
    row.finished = true;
    row.note = "not started";
    row.outcome = JobOutcome{};
    row.outcome->reason = reason::kInterrupted;
    row.outcome->detail = "interrupted before its job started";
    row.begin = row.end = Clock::now();
    rows_.push_back(std::move(row));
    currentRow_[name] = rows_.size() - 1;
}

std::vector<std::string> COutput::AbandonRunning() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (Row& r : rows_) {
        if (!r.started || r.finished) continue;
        r.finished = true;
        r.end = Clock::now();
        r.outcome = JobOutcome{};
        r.outcome->reason = reason::kInterrupted;
        r.outcome->detail =
            "interrupted at " + std::to_string(r.percent) + "%: the device is left half-written";
        names.push_back(label(r.name));
    }
    return names;
}

void COutput::CommandDone(const std::string& name, const uint8_t* cdb, const TransferResult& result) {
    std::array<uint8_t, kCdbSize> block{};
    if (cdb != nullptr) std::copy(cdb, cdb + kCdbSize, block.begin());
    const TransferResult checked = CheckedResult(result);
    const bool ok = checked.ok();
    const std::string text = DescribeCommand(block, checked);
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        JsonObject obj = JsonEvent("command", name);
        obj.Add("ok", ok).Add("text", text);
        if (checked.status == TransferStatus::CheckCondition) {
            obj.Add("senseKey", static_cast<int>(checked.senseKey))
                .Add("asc", static_cast<int>(checked.asc))
                .Add("ascq", static_cast<int>(checked.ascq));
        }
        emitDeviceJson(std::move(obj), name);
    } else {
        printLine(label(name) + ": " + text);
    }
}

void COutput::DeviceArrived(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("arrived", name), name);
    } else {
        printLine(
            (mode_ == OutputMode::Terminal ? LocalClock() + " " + label(name) + "  " : label(name) + ": ") +
            "device arrived");
    }
}

void COutput::DeviceRemoved(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("removed", name), name);
    } else {
        printLine(
            (mode_ == OutputMode::Terminal ? LocalClock() + " " + label(name) + "  " : label(name) + ": ") +
            "device removed");
    }
}

void COutput::OptionsInEffect(const std::string& text, JsonObject json) {
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        emitJson(json);
    } else {
        printLine(text);
    }
}

size_t COutput::Started() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.started; }));
}

size_t COutput::Finished() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.started && r.finished; }));
}

bool COutput::AnyFailed() const {
    std::lock_guard lock(mutex_);
    return std::any_of(rows_.begin(), rows_.end(), [this](const Row& r) { return failed(r); });
}

size_t COutput::Rows() const {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

// --- job notifications -----------------------------------------------------------------------

void COutput::PostProgressPos(const std::string& name, int percent) {
    std::lock_guard lock(mutex_);
    Row* row = current(name);
    if (row != nullptr) row->percent = std::clamp(percent, 0, 100);
    if (quiet_) return;
    switch (mode_) {
        case OutputMode::Json:
            emitDeviceJson(JsonEvent("progress", name).Add("percent", percent), name);
            break;
        case OutputMode::Plain:
            // A log, not a display: one line per tenth of the way (and the end) per device.
            if (row == nullptr) {
                printLine(label(name) + ": " + std::to_string(percent) + "%");
            } else if (row->lastPrintedPercent < 0 || row->percent / 10 > row->lastPrintedPercent / 10) {
                row->lastPrintedPercent = row->percent;
                printLine(label(name) + ": " + std::to_string(row->percent) + "%");
            }
            break;
        case OutputMode::Terminal:
            redrawThrottled(false);
            break;
    }
}

void COutput::PostProgressImage(const std::string& name, int state) {
    std::lock_guard lock(mutex_);
    Row* row = current(name);
    if (row != nullptr) row->state = state;
    if (quiet_) return;
    switch (mode_) {
        case OutputMode::Json:
            emitDeviceJson(JsonEvent("image", name).Add("state", ImageStateName(state)), name);
            break;
        case OutputMode::Plain:
            printLine(label(name) + ": state " + ImageStateName(state));
            break;
        case OutputMode::Terminal:
            redrawThrottled(true);
            break;
    }
}

void COutput::PostEnableControls(const std::string& name, int enable) {
    (void)name;
    (void)enable;  // the tool has no controls to lock
}

void COutput::AddTipsText(const std::string& text, const std::string& device) {
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("log", device).Add("text", text), device);
        return;
    }
    if (Blank(text)) return;  // the window's spacer line
    if (mode_ == OutputMode::Terminal) {
        printLine(LocalClock() + " " + (device.empty() ? "" : label(device) + "  ") + text);
    } else {
        printLine(device.empty() ? text : label(device) + ": " + text);
    }
}

void COutput::ShowFileParseError(int code) {
    std::lock_guard lock(mutex_);
    const auto text = ImageResultText(code);
    if (mode_ == OutputMode::Json) {
        emitJson(JsonEvent("imageError").Add("code", code).Add("text", text));
        return;
    }
    writeErr("image check failed: " + std::to_string(code) + " " + text);
}

void COutput::ShowMessageBox(const std::string& text, const std::string& caption) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        if (!quiet_) emitJson(JsonEvent("message").Add("text", text).Add("caption", caption));
        return;
    }
    if (!quiet_) printLine(caption.empty() ? text : caption + ": " + text);
}

void COutput::JobFinished(const std::string& name, const JobOutcome& outcome) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        Row* row = current(name);
        if (row != nullptr && !row->finished) {
            row->finished = true;
            row->outcome = outcome;
            row->end = Clock::now();
            if (!quiet_) {
                const double seconds = std::chrono::duration<double>(row->end - row->begin).count();
                if (mode_ == OutputMode::Json) {
                    JsonObject obj = JsonEvent("result", name);
                    obj.Add("success", outcome.success).Add("result", outcome.success ? "ok" : "failed");
                    if (outcome.flashId) {
                        obj.Add("flashId", Hex(*outcome.flashId));
                    } else {
                        obj.AddNull("flashId");
                    }
                    obj.Add("bytes", outcome.bytesWritten);
                    if (outcome.bytesSkipped > 0) obj.Add("bytesSkipped", outcome.bytesSkipped);
                    obj.Add("seconds", seconds);
                    AddReason(obj, outcome);
                    emitDeviceJson(std::move(obj), name);
                } else {
                    printLine(finalLine(*row));
                }
            }
        }
        hook = finishedHook_;
    }
    if (hook) hook();
}

// --- the tool's own lines ----------------------------------------------------------------------

void COutput::Message(const std::string& text, const std::string& device) { AddTipsText(text, device); }

void COutput::Error(const std::string& text, const std::string& device) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        emitDeviceJson(JsonEvent("error", device).Add("text", text), device);
        return;
    }
    const std::string erase = eraseBars();
    if (!erase.empty()) write(erase);
    writeErr((device.empty() ? "" : label(device) + ": ") + text);
    const std::string bars = drawBars();
    if (!bars.empty()) write(bars);
}

void COutput::Result(const std::string& text, JsonObject json) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        emitJson(json);
    } else {
        printLine(text, false);  // an answer (a table row, a result) that scripts read as it is
    }
}

void COutput::Tick() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Terminal && !quiet_) redrawThrottled(false);
}

void COutput::Summary() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Terminal) write(eraseBars());
    summarized_ = true;
    size_t ok = 0;
    size_t bad = 0;
    for (const Row& r : rows_) (failed(r) ? bad : ok)++;

    auto resultText = [this](const Row& r) -> std::string {
        if (!r.started) return r.note.empty() ? "NOT STARTED" : r.note;
        if (!r.finished) return "RUNNING";
        if (r.outcome && r.outcome->reason == reason::kInterrupted) return "INTERRUPTED";
        return failed(r) ? "FAILED" : "OK";
    };
    // JSON results in one casing, the same words as the "result" events.
    auto jsonResult = [&resultText](const Row& r) {
        std::string text = resultText(r);
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };

    if (mode_ == OutputMode::Json) {
        std::string devices = "[";
        for (const Row& r : rows_) {
            JsonObject d;
            d.Add("device", r.name).Add("success", !failed(r)).Add("result", jsonResult(r));
            if (r.outcome && r.outcome->flashId) {
                d.Add("flashId", Hex(*r.outcome->flashId));
            } else {
                d.AddNull("flashId");
            }
            d.Add("bytes", r.outcome ? r.outcome->bytesWritten : uint64_t{0});
            d.Add("seconds", std::chrono::duration<double>(r.end - r.begin).count());
            if (r.outcome) {
                AddReason(d, *r.outcome);
            } else {
                d.AddNull("reason").AddNull("detail");
            }
            AddSlot(d, slotOf(r.name));
            if (devices.size() > 1) devices += ',';
            devices += d.str();
        }
        devices += "]";
        emitJson(JsonEvent("summary")
                     .AddRaw("devices", devices)
                     .Add("succeeded", static_cast<uint64_t>(ok))
                     .Add("failed", static_cast<uint64_t>(bad)));
        return;
    }

    if (rows_.empty()) {
        write("no device was worked on\n");
        log("no device was worked on\n");
        return;
    }
    struct Cells {
        std::string device, result, reason, flashId, bytes, time;
    };
    std::vector<Cells> table{{"DEVICE", "RESULT", "REASON", "FLASH ID", "BYTES", "TIME"}};
    for (const Row& r : rows_) {
        Cells c;
        c.device = label(r.name);
        c.result = resultText(r);
        c.reason = r.outcome && !r.outcome->reason.empty() ? r.outcome->reason : "-";
        c.flashId = r.outcome && r.outcome->flashId ? Hex(*r.outcome->flashId) : "-";
        c.bytes = r.outcome ? std::to_string(r.outcome->bytesWritten) : "-";
        c.time = r.started ? FormatSeconds(std::chrono::duration<double>(r.end - r.begin).count()) : "-";
        table.push_back(std::move(c));
    }
    // The reason column only when a job failed: a clean run keeps its table short.
    const bool anyReason = std::any_of(rows_.begin(), rows_.end(), [](const Row& r) {
        return r.outcome && !r.outcome->success && !r.outcome->reason.empty();
    });
    if (!anyReason) {
        for (Cells& c : table) c.reason.clear();
    }
    constexpr int kColumns = 6;
    size_t w[kColumns] = {};
    for (const Cells& c : table) {
        const std::string* cells[kColumns] = {&c.device, &c.result, &c.reason, &c.flashId, &c.bytes, &c.time};
        for (int i = 0; i < kColumns; ++i) w[i] = std::max(w[i], cells[i]->size());
    }
    std::string text = "\n";
    for (const Cells& c : table) {
        const std::string* cells[kColumns] = {&c.device, &c.result, &c.reason, &c.flashId, &c.bytes, &c.time};
        std::string line;
        for (int i = 0; i < kColumns; ++i) {
            if (i == 2 && !anyReason) continue;
            std::string cell = *cells[i];
            // Numbers right-aligned, words left-aligned.
            if (i >= 4) {
                cell.insert(0, w[i] - cell.size(), ' ');
            } else {
                cell.append(w[i] - cell.size(), ' ');
            }
            line += cell;
            if (i < kColumns - 1) line += "  ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, "%zu succeeded, %zu failed\n", ok, bad);
    text += tail;
    log(text);
    write(text);  // a table for scripts to read: no time stamps
}

// --- drawing --------------------------------------------------------------------------------------

void COutput::emitJson(const JsonObject& obj) {
    const std::string line = obj.str() + "\n";
    write(line);
    if (log_ != nullptr) {
        std::fwrite(line.data(), 1, line.size(), log_);
        std::fflush(log_);
    }
}

void COutput::write(const std::string& text) {
    if (outputBroken_ || text.empty()) return;
    // SIGPIPE is ignored: a reader that went away (| head) shows up here, and ends the output only.
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0)
        outputBroken_ = true;
}

void COutput::writeErr(const std::string& line) {
    log(line + "\n");
    std::fprintf(err_, "%s\n", stamp(line).c_str());
    std::fflush(err_);
}

std::string COutput::stamp(const std::string& line) const {
    return mode_ == OutputMode::Plain ? IsoTimeNow() + " " + line : line;
}

void COutput::log(const std::string& text) {
    if (log_ == nullptr || text.empty()) return;
    const std::string lines = StampLines(WithoutEscapes(text), IsoTimeNow());
    std::fwrite(lines.data(), 1, lines.size(), log_);
    std::fflush(log_);
}

void COutput::printLine(const std::string& line, bool stamped) {
    log(line);
    if (mode_ != OutputMode::Terminal) {
        write((stamped ? stamp(line) : line) + "\n");
        return;
    }
    // One write per redraw, so the terminal never shows the bars half gone.
    std::string text = eraseBars();  // before drawBars(): it resets the count drawBars() sets
    text += line + "\n";
    text += drawBars();
    write(text);
}

std::string COutput::eraseBars() {
    if (mode_ != OutputMode::Terminal || barsDrawn_ == 0) return {};
    // Up to the first bar's line, then clear to the end of the screen.
    const std::string text = "\x1b[" + std::to_string(barsDrawn_) + "F\x1b[J";
    barsDrawn_ = 0;
    return text;
}

std::string COutput::drawBars() {
    if (mode_ != OutputMode::Terminal || quiet_ || summarized_) return {};
    const size_t width = TerminalWidth(out_);
    std::string text;
    size_t n = 0;
    for (const Row& r : rows_) {
        if (!r.started || r.finished) continue;
        text += barLine(r, width) + "\n";
        ++n;
    }
    barsDrawn_ = n;
    lastDraw_ = Clock::now();
    return text;
}

void COutput::redrawThrottled(bool force) {
    if (!force && Clock::now() - lastDraw_ < kRedrawInterval) return;
    std::string text = eraseBars();
    text += drawBars();
    if (!text.empty()) write(text);
}

std::string COutput::barLine(const Row& r, size_t width) const {
    const size_t filled = static_cast<size_t>(r.percent) * kBarWidth / 100;
    std::string bar(filled, '#');
    bar.append(kBarWidth - filled, '.');
    const uint64_t b = bytes(r);
    const double seconds = std::chrono::duration<double>(Clock::now() - r.begin).count();
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-8s [%s] %3d%%  %10s  %12s  %s", label(r.name).c_str(), bar.c_str(),
                  r.percent, FormatBytes(b).c_str(), FormatRate(b, seconds).c_str(), StateName(r.state));
    std::string line = buf;
    if (line.size() >= width) line.resize(width - 1);  // a wrapped bar would break the redraw
    return line;
}

std::string COutput::finalLine(const Row& r) const {
    const uint64_t b = bytes(r);
    const double seconds = std::chrono::duration<double>(r.end - r.begin).count();
    const bool ok = r.outcome && r.outcome->success;
    std::string line = label(r.name) + ": " + (ok ? "OK" : "FAILED");
    if (!ok && r.outcome && !r.outcome->reason.empty()) line += " " + r.outcome->reason;
    line += " (";
    if (r.outcome && r.outcome->flashId) line += "flash id " + Hex(*r.outcome->flashId) + ", ";
    line += std::to_string(r.outcome ? r.outcome->bytesWritten : 0) + " bytes, ";
    if (r.outcome && r.outcome->bytesSkipped > 0)
        line += std::to_string(r.outcome->bytesSkipped) + " bytes unchanged, ";
    line += FormatSeconds(seconds);
    if (mode_ == OutputMode::Terminal)
        line += ", " + FormatBytes(b) + " transferred at " + FormatRate(b, seconds);
    line += ")";
    // A verify's difference is its answer, not a diagnosis: always named.
    const bool isVerify = r.outcome && r.outcome->kind == JobOutcome::Kind::Verify;
    if ((verbose_ || isVerify) && !ok && r.outcome && !r.outcome->detail.empty())
        line += ": " + r.outcome->detail;
    if (mode_ == OutputMode::Terminal && color_) line = (ok ? "\x1b[32m" : "\x1b[31m") + line + "\x1b[0m";
    return line;
}

}  // namespace brev::cli
