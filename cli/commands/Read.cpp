// read [-o FILE]: the first MiB of each chosen device's flash to a file.
#include <CLI/CLI.hpp>
#include <system_error>

#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "cli/JobRunner.h"
#include "ops/Paths.h"

namespace brev::cli {
namespace {

class ReadCommand : public ICommand {
public:
    const char* Name() const override { return "read"; }
    const char* Description() const override {
        return "Read the first MiB of flash to a file (several devices: NAME is added to the file name)";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("-o,--output", output_, "Output file")->type_name("FILE")->capture_default_str();
    }
    ExitCode Execute(CommandContext& ctx) override {
        const std::filesystem::path out = PathFromUtf8(output_);
        std::error_code ec;
        const std::filesystem::path folder =
            out.has_parent_path() ? out.parent_path() : std::filesystem::path(".");
        if (!std::filesystem::is_directory(folder, ec)) {
            ctx.output.Error(output_ + ": the folder " + PathToUtf8(folder) + " does not exist");
            return ExitCode::Usage;
        }
        // A read is a known size: a folder without room for one file fails before any device.
        if (const auto room = std::filesystem::space(folder, ec); !ec && room.available < kReadBackSize) {
            ctx.output.Error(output_ + ": " + std::make_error_code(std::errc::no_space_on_device).message() +
                             " (" + std::to_string(room.available) + " bytes free, " +
                             std::to_string(kReadBackSize) + " needed)");
            return ExitCode::Usage;
        }
        Session& session = *ctx.session;
        bool several = false;
        JobRunner runner(session, ctx.output);
        return runner.RunOnce(
            [&session, out, &several](const PresentDevice& device,
                                      const std::vector<PresentDevice>& present) {
                std::filesystem::path file = out;
                if (several) {
                    // One file per device: read.bin -> read-sim0.bin.
                    file.replace_filename(PathToUtf8(out.stem()) + "-" + device.name +
                                          PathToUtf8(out.extension()));
                }
                return StartReadBack(session.env(), present, device.name, file);
            },
            [&several](const std::vector<PresentDevice>& chosen) { several = chosen.size() > 1; });
    }

    std::vector<std::string> OutputFiles() const override { return {output_}; }

private:
    std::string output_ = "read.bin";
};

}  // namespace

std::unique_ptr<ICommand> MakeReadCommand() { return std::make_unique<ReadCommand>(); }

}  // namespace brev::cli
