// random-test: 512 KiB of pseudo-random data written and checked twice, no file involved.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/JobRunner.h"
#include "ops/Jobs.h"

namespace brev::cli {
namespace {

class RandomTestCommand : public ICommand {
public:
    const char* Name() const override { return "random-test"; }
    const char* Description() const override {
        return "Write 512 KiB of random data to the internal flash of every chosen device and verify it";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_flag("--all", all_, "Work on every device present when there are several and no --device");
    }
    ExitCode Execute(CommandContext& ctx) override {
        Session& session = *ctx.session;
        JobRunner runner(session, ctx.output);
        runner.RefuseSeveralUnless(all_);
        return runner.RunOnce([&session](const PresentDevice& device, const std::vector<PresentDevice>&) {
            return StartRandomTest(session.env(), device, session.eraseUse4K());
        });
    }

private:
    bool all_ = false;
};

}  // namespace

std::unique_ptr<ICommand> MakeRandomTestCommand() { return std::make_unique<RandomTestCommand>(); }

}  // namespace brev::cli
