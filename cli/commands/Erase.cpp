// erase: the whole internal NOR flash of each chosen device.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/JobRunner.h"

namespace brev::cli {
namespace {

class EraseCommand : public ICommand {
public:
    const char* Name() const override { return "erase"; }
    const char* Description() const override {
        return "Erase the whole internal flash of every chosen device";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_flag("--all", all_, "Work on every device present when there are several and no --device");
    }
    ExitCode Execute(CommandContext& ctx) override {
        Session& session = *ctx.session;
        JobRunner runner(session, ctx.output);
        runner.RefuseSeveralUnless(all_);
        return runner.RunOnce(
            [&session](const PresentDevice& device, const std::vector<PresentDevice>& present) {
                StartRequest request;
                request.deviceName = device.name;
                request.eraseOnly = 1;
                request.eraseUse4K = session.eraseUse4K();
                return StartDownloadJob(session.env(), present, request);
            });
    }

private:
    bool all_ = false;
};

}  // namespace

std::unique_ptr<ICommand> MakeEraseCommand() { return std::make_unique<EraseCommand>(); }

}  // namespace brev::cli
