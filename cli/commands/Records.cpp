// records sync | records init-db URL: the station's records and the factory's central database.
#include <CLI/CLI.hpp>

#include "app/RecordsPush.h"
#include "app/Station.h"
#include "cli/Command.h"
#include "cli/Json.h"
#include "cli/StationRecords.h"

namespace brev::cli {
namespace {

class RecordsCommand : public ICommand {
public:
    const char* Name() const override { return "records"; }
    const char* Description() const override {
        return "The central database: 'records sync' pushes the waiting records, 'records init-db URL' "
               "creates its table";
    }
    bool NeedsDevices() const override { return false; }
    void AddOptions(CLI::App& sub) override {
        sub.require_subcommand(1);
        sync_ =
            sub.add_subcommand("sync", "Push every waiting record now; says how many went and how many wait");
        initDb_ =
            sub.add_subcommand("init-db", "Create the central table (docs/records.sql) in the database URL");
        initDb_->add_option("URL", url_, "postgresql://USER@HOST/DB")->required();
    }

    ExitCode Execute(CommandContext& ctx) override {
        std::string error;
        if (initDb_->parsed()) {
            if (!InitCentralDatabase(url_, error)) {
                ctx.output.Error("init-db: " + error);
                return ExitCode::DeviceFailed;
            }
            JsonObject json = JsonEvent("records-init-db");
            ctx.output.Result("the central table brevload_records is ready", json);
            return ExitCode::Ok;
        }
        const std::filesystem::path settings = SettingsFileOf(ctx.options);
        const std::string url =
            !ctx.options.recordsUrl.empty() ? ctx.options.recordsUrl : RecordsUrlFor(settings);
        if (url.empty()) {
            ctx.output.Error(
                "records sync: no central database (--records-url or the settings key recordsUrl)");
            return ExitCode::Usage;
        }
        const auto records = OpenStationRecords(ctx.options, settings, error);
        if (!records) {
            ctx.output.Error(error);
            return ExitCode::Usage;
        }
        const PushResult pushed = PushRecords(*records, url);
        JsonObject json = JsonEvent("records-sync");
        json.Add("sent", pushed.sent).Add("waiting", pushed.waiting);
        if (!pushed.error.empty()) json.Add("error", pushed.error);
        ctx.output.Result(
            "sent " + std::to_string(pushed.sent) + ", waiting " + std::to_string(pushed.waiting), json);
        if (!pushed.error.empty()) {
            ctx.output.Error("records sync: " + pushed.error);
            return ExitCode::DeviceFailed;
        }
        return ExitCode::Ok;
    }

private:
    CLI::App* sync_ = nullptr;
    CLI::App* initDb_ = nullptr;
    std::string url_;
};

}  // namespace

std::unique_ptr<ICommand> MakeRecordsCommand() { return std::make_unique<RecordsCommand>(); }

}  // namespace brev::cli
