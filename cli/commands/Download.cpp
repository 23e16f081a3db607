// download FILE: one download job on each chosen device, all at once.
#include <CLI/CLI.hpp>

#include "cli/DownloadStart.h"

namespace brev::cli {
namespace {

class DownloadCommand : public ICommand {
public:
    const char* Name() const override { return "download"; }
    const char* Description() const override {
        return "Download an update image to every chosen device (with --ex-flash: any file to the external "
               "flash)";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("FILE", file_, "Update image (*.up), or with --ex-flash a raw binary")
            ->type_name("FILE")
            ->required();
    }
    ExitCode Execute(CommandContext& ctx) override {
        if (!CheckDownloadFile(ctx, file_)) return ExitCode::Usage;
        ctx.session->ShowOptionsInEffect();
        JobRunner runner(*ctx.session, ctx.output);
        return runner.RunOnce(DownloadStarter(*ctx.session, file_));
    }

    std::vector<std::string> InputFiles() const override { return {file_}; }

private:
    std::string file_;
};

}  // namespace

std::unique_ptr<ICommand> MakeDownloadCommand() { return std::make_unique<DownloadCommand>(); }

}  // namespace brev::cli
