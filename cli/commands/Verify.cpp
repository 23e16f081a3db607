// verify FILE: reads back the range an update image's data occupies and compares, writing nothing.
#include <CLI/CLI.hpp>

#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "cli/JobRunner.h"
#include "cli/Session.h"
#include "image/ImageChecker.h"

namespace brev::cli {
namespace {

class VerifyCommand : public ICommand {
public:
    const char* Name() const override { return "verify"; }
    const char* Description() const override {
        return "Compare each chosen device's flash with an update image's data, writing nothing (exit 1 "
               "names the first differing block and address)";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("FILE", file_, "Update image (*.up)")->type_name("FILE")->required();
    }
    ExitCode Execute(CommandContext& ctx) override {
        Session& session = *ctx.session;
        // The external flash's loader can write and checksum, but has no command to read it back.
        // (The window's exFlash setting does not apply: verify always means the internal flash.)
        if (ctx.options.exFlash > 0) {
            ctx.output.Error("verify reads the internal flash only: the external flash cannot be read back");
            return ExitCode::Usage;
        }
        CImageChecker checker;
        const int code = checker.Check(PathFromUtf8(file_));
        if (code != ImageOk) {
            ctx.output.Error(file_ + ": image check failed: " + std::to_string(code) + " " +
                             ImageResultText(code));
            return ExitCode::Usage;
        }
        JobRunner runner(session, ctx.output);
        return runner.RunOnce(
            [&session, file = file_](const PresentDevice& device, const std::vector<PresentDevice>& present) {
                return StartVerify(session.env(), present, device.name, file, session.eraseUse4K());
            });
    }

private:
    std::string file_;
};

}  // namespace

std::unique_ptr<ICommand> MakeVerifyCommand() { return std::make_unique<VerifyCommand>(); }

}  // namespace brev::cli
