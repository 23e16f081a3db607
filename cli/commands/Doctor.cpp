// doctor: checks what a station needs (sg driver, udev rule, access to each device, device
// programs, a writable settings folder, a UTF-8 locale) and says how to fix what is missing.
#include "cli/Doctor.h"

#include <CLI/CLI.hpp>

#include "base/Utf8Path.h"
#include "cli/Command.h"

namespace brev::cli {
namespace {

class DoctorCommand : public ICommand {
public:
    const char* Name() const override { return "doctor"; }
    const char* Description() const override {
        return "Check this machine for what a station needs and say how to fix what is missing (exit 1 "
               "when anything is)";
    }
    bool NeedsDevices() const override { return false; }
    void AddOptions(CLI::App& sub) override { (void)sub; }

    ExitCode Execute(CommandContext& ctx) override {
        DoctorSetup setup = SystemDoctorSetup();
        if (!ctx.options.configFile.empty())
            setup.settingsFolder = PathFromUtf8(ctx.options.configFile).parent_path();
        bool allWell = true;
        for (const DoctorCheck& c : RunDoctor(setup)) {
            allWell = allWell && c.ok;
            JsonObject json = JsonEvent("check");
            json.Add("ok", c.ok).Add("what", c.what);
            if (!c.ok) json.Add("fix", c.fix);
            ctx.output.Result(
                std::string(c.ok ? "ok    " : "FAIL  ") + c.what + (c.ok ? "" : "\n      fix: " + c.fix),
                std::move(json));
        }
        return allWell ? ExitCode::Ok : ExitCode::DeviceFailed;
    }
};

}  // namespace

std::unique_ptr<ICommand> MakeDoctorCommand() { return std::make_unique<DoctorCommand>(); }

}  // namespace brev::cli
