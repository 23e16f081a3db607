// history: the station's records, newest first, as a table, JSON lines or CSV; or a summary.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>

#include "app/Station.h"
#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "cli/Json.h"
#include "cli/StationRecords.h"

namespace brev::cli {
namespace {

// RFC 4180: quoted when it holds a comma, a quote or a line break; quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

struct Field {
    const char* name;
    std::string (*text)(const RecordRow&);
};

std::string Num(int64_t v) { return std::to_string(v); }

// Every field, in the order of the CSV columns and the JSON keys.
const Field kFields[] = {
    {"uuid", [](const RecordRow& r) { return r.uuid; }},
    {"startedAt", [](const RecordRow& r) { return r.startedAt; }},
    {"endedAt", [](const RecordRow& r) { return r.endedAt; }},
    {"station", [](const RecordRow& r) { return r.station; }},
    {"version", [](const RecordRow& r) { return r.version; }},
    {"operation", [](const RecordRow& r) { return r.operation; }},
    {"path", [](const RecordRow& r) { return r.path; }},
    {"eraseUnit", [](const RecordRow& r) { return r.eraseUnit; }},
    {"resetAfter", [](const RecordRow& r) { return Num(r.resetAfter); }},
    {"pins", [](const RecordRow& r) { return r.pins; }},
    {"bus", [](const RecordRow& r) { return r.bus; }},
    {"device", [](const RecordRow& r) { return r.device; }},
    {"slot", [](const RecordRow& r) { return r.slot; }},
    {"portPath", [](const RecordRow& r) { return r.portPath; }},
    {"serial", [](const RecordRow& r) { return r.serial; }},
    {"flashId", [](const RecordRow& r) { return r.flashId; }},
    {"image", [](const RecordRow& r) { return r.imagePath; }},
    {"imageSize", [](const RecordRow& r) { return Num(r.imageSize); }},
    {"headerLength", [](const RecordRow& r) { return Num(r.headerLength); }},
    {"dataCrc16", [](const RecordRow& r) { return r.dataCrc16; }},
    {"sha256", [](const RecordRow& r) { return r.sha256; }},
    {"bytes", [](const RecordRow& r) { return Num(r.bytes); }},
    {"result", [](const RecordRow& r) { return r.result; }},
    {"reason", [](const RecordRow& r) { return r.reason; }},
    {"detail", [](const RecordRow& r) { return r.detail; }},
    {"durationMs", [](const RecordRow& r) { return Num(r.durationMs); }},
};

bool IsNumber(const char* name) {
    const std::string n = name;
    return n == "resetAfter" || n == "imageSize" || n == "headerLength" || n == "bytes" || n == "durationMs";
}

void Print(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stdout); }

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size() + 1, ' ');
}

std::string Percent(int64_t part, int64_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * static_cast<double>(part) / whole : 0.0);
    return text;
}

class HistoryCommand : public ICommand {
public:
    const char* Name() const override { return "history"; }
    const char* Description() const override {
        return "List the station's records, newest first (filters: --device, --slot, --result, --since, "
               "--until, --image, --limit)";
    }
    bool NeedsDevices() const override { return false; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("--slot", filter_.slot, "Only records of this slot")->type_name("LABEL");
        sub.add_option("--result", filter_.result, "Only records with this result")
            ->type_name("ok|failed|interrupted")
            ->check(CLI::IsMember({"ok", "failed", "interrupted"}));
        sub.add_option("--since", filter_.since, "Only records started at or after this UTC date or time")
            ->type_name("2026-12-01[T10:00]");
        sub.add_option("--until", filter_.until, "Only records started at or before this UTC date or time")
            ->type_name("2026-12-31[T18:00]");
        sub.add_option("--image", filter_.image, "Only records of this image: its path or a SHA-256 prefix")
            ->type_name("PATH|SHA256");
        sub.add_option("--limit", filter_.limit, "At most N records")
            ->type_name("N")
            ->check(CLI::Range(1, 1 << 30).description(""));
        sub.add_flag("--csv", csv_, "CSV (RFC 4180) with a header row");
        sub.add_flag("--summary", summary_, "Counts and failure rates per reason and per slot");
    }

    ExitCode Execute(CommandContext& ctx) override {
        std::string error;
        const auto records = OpenStationRecords(ctx.options, SettingsFileOf(ctx.options), error);
        if (!records) {
            ctx.output.Error(error);
            return ExitCode::Usage;
        }
        filter_.devices = ctx.options.devices;
        // Records name their images by absolute path.
        if (std::error_code ec;
            !filter_.image.empty() && std::filesystem::is_regular_file(PathFromUtf8(filter_.image), ec))
            filter_.image =
                PathToUtf8(std::filesystem::absolute(PathFromUtf8(filter_.image), ec).lexically_normal());
        const int limit = filter_.limit;
        if (summary_) filter_.limit = 0;
        const std::vector<RecordRow> rows = records->Query(filter_, error);
        if (!error.empty()) {
            ctx.output.Error(PathToUtf8(records->file()) + ": " + error);
            return ExitCode::Usage;
        }
        filter_.limit = limit;
        if (summary_) {
            Summary(rows, ctx.options.json);
        } else if (ctx.options.json) {
            for (const RecordRow& r : rows) {
                JsonObject json;
                for (const Field& f : kFields) {
                    if (IsNumber(f.name)) {
                        json.Add(f.name, static_cast<int64_t>(std::stoll(f.text(r))));
                    } else {
                        json.Add(f.name, f.text(r));
                    }
                }
                Print(json.str() + "\n");
            }
        } else if (csv_) {
            std::string line;
            for (const Field& f : kFields) line += (line.empty() ? "" : ",") + std::string(f.name);
            Print(line + "\r\n");
            for (const RecordRow& r : rows) {
                line.clear();
                bool first = true;
                for (const Field& f : kFields) {
                    line += (first ? "" : ",") + CsvField(f.text(r));
                    first = false;
                }
                Print(line + "\r\n");
            }
        } else {
            Table(rows);
        }
        std::fflush(stdout);
        return ExitCode::Ok;
    }

private:
    static void Table(const std::vector<RecordRow>& rows) {
        Print(
            "STARTED (UTC)            RESULT       OPERATION    DEVICE   SLOT  BYTES      MS      SHA-256    "
            "   "
            "IMAGE / REASON\n");
        for (const RecordRow& r : rows) {
            std::string last = r.imagePath;
            if (!r.reason.empty()) last += (last.empty() ? "" : "  ") + r.reason;
            Print(Pad(r.startedAt, 24) + Pad(r.result, 12) + Pad(r.operation, 12) + Pad(r.device, 8) +
                  Pad(r.slot, 5) + Pad(Num(r.bytes), 10) + Pad(Num(r.durationMs), 7) +
                  Pad(r.sha256.substr(0, 12), 13) + last + "\n");
        }
    }

    static void Summary(const std::vector<RecordRow>& rows, bool json) {
        struct Count {
            int64_t total = 0, ok = 0, failed = 0, interrupted = 0;
        };
        Count all;
        std::map<std::string, int64_t> reasons;
        std::map<std::string, Count> slots;
        for (const RecordRow& r : rows) {
            if (r.result == "started") continue;  // still running
            for (Count* c : {&all, &slots[r.slot]}) {
                ++c->total;
                if (r.result == "ok") ++c->ok;
                if (r.result == "failed") ++c->failed;
                if (r.result == "interrupted") ++c->interrupted;
            }
            if (r.result != "ok") ++reasons[r.reason.empty() ? r.result : r.reason];
        }
        auto rate = [](const Count& c) {
            return c.total > 0 ? static_cast<double>(c.failed + c.interrupted) / static_cast<double>(c.total)
                               : 0.0;
        };
        if (json) {
            JsonObject total;
            total.Add("summary", "total")
                .Add("records", all.total)
                .Add("ok", all.ok)
                .Add("failed", all.failed);
            total.Add("interrupted", all.interrupted).Add("failureRate", rate(all));
            Print(total.str() + "\n");
            for (const auto& [reason, n] : reasons) {
                JsonObject line;
                line.Add("summary", "reason").Add("reason", reason).Add("records", n);
                line.Add("failureRate",
                         all.total > 0 ? static_cast<double>(n) / static_cast<double>(all.total) : 0.0);
                Print(line.str() + "\n");
            }
            for (const auto& [slot, c] : slots) {
                JsonObject line;
                line.Add("summary", "slot").Add("slot", slot).Add("records", c.total).Add("ok", c.ok);
                line.Add("failed", c.failed).Add("interrupted", c.interrupted).Add("failureRate", rate(c));
                Print(line.str() + "\n");
            }
            return;
        }
        Print("records " + Num(all.total) + ", ok " + Num(all.ok) + ", failed " + Num(all.failed) +
              ", interrupted " + Num(all.interrupted) + ", failure rate " +
              Percent(all.failed + all.interrupted, all.total) + "\n");
        Print("\nREASON                RECORDS  OF ALL\n");
        for (const auto& [reason, n] : reasons)
            Print(Pad(reason, 21) + Pad(Num(n), 8) + Percent(n, all.total) + "\n");
        Print("\nSLOT      RECORDS  OK       FAILED   FAILURE RATE\n");
        for (const auto& [slot, c] : slots) {
            Print(Pad(slot.empty() ? "-" : slot, 9) + Pad(Num(c.total), 8) + Pad(Num(c.ok), 8) +
                  Pad(Num(c.failed + c.interrupted), 8) + Percent(c.failed + c.interrupted, c.total) + "\n");
        }
    }

    RecordFilter filter_;
    bool csv_ = false;
    bool summary_ = false;
};

}  // namespace

std::unique_ptr<ICommand> MakeHistoryCommand() { return std::make_unique<HistoryCommand>(); }

}  // namespace brev::cli
