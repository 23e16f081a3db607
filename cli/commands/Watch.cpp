// watch FILE: factory mode. Every chosen device present and every one that arrives gets FILE.
#include <CLI/CLI.hpp>

#include "cli/DownloadStart.h"

namespace brev::cli {
namespace {

class WatchCommand : public ICommand {
public:
    const char* Name() const override { return "watch"; }
    const char* Description() const override {
        return "Factory mode: download FILE to every device present and to every device that arrives, "
               "until Ctrl-C (running jobs finish) or --count devices are done";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("FILE", file_, "Update image (*.up), or with --ex-flash a raw binary")
            ->type_name("FILE")
            ->required();
        sub.add_option("--count", count_, "Stop after N devices are done (0: until interrupted)")
            ->type_name("N")
            ->check(CLI::Range(0, 1000000000).description(""));
    }
    ExitCode Execute(CommandContext& ctx) override {
        if (!CheckDownloadFile(ctx, file_)) return ExitCode::Usage;
        ctx.session->ShowOptionsInEffect();
        JobRunner runner(*ctx.session, ctx.output);
        return runner.Watch(DownloadStarter(*ctx.session, file_), count_);
    }

    std::vector<std::string> InputFiles() const override { return {file_}; }

private:
    std::string file_;
    int count_ = 0;
};

}  // namespace

std::unique_ptr<ICommand> MakeWatchCommand() { return std::make_unique<WatchCommand>(); }

}  // namespace brev::cli
