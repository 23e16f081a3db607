// check FILE: the update-image check the window runs before a download.
#include <CLI/CLI.hpp>
#include <system_error>

#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "image/ImageChecker.h"

namespace brev::cli {
namespace {

class CheckCommand : public ICommand {
public:
    const char* Name() const override { return "check"; }
    const char* Description() const override {
        return "Check an update image; prints the result code and its text (exit 2 when it fails)";
    }
    bool NeedsDevices() const override { return false; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("FILE", file_, "Update image (*.up)")->type_name("FILE")->required();
    }

    ExitCode Execute(CommandContext& ctx) override {
        const std::filesystem::path path = PathFromUtf8(file_);
        CImageChecker checker;
        const int code = checker.Check(path);
        const std::string text = ImageResultText(code);

        JsonObject json = JsonEvent("check");
        json.Add("file", file_).Add("code", code).Add("text", text).Add("ok", code == ImageOk);
        std::string line = file_ + ": " + std::to_string(code) + " " + text;
        if (code == ImageOk) {
            std::error_code ec;
            const uint64_t size = std::filesystem::file_size(path, ec);
            const uint32_t header = checker.parser()->GetHeaderLength();
            const uint64_t data = ec ? 0 : size - header;
            line += " (header " + std::to_string(header) + " bytes, data " + std::to_string(data) + " bytes)";
            json.Add("headerLength", static_cast<uint64_t>(header)).Add("dataLength", data);
        }
        ctx.output.Result(line, json);
        return code == ImageOk ? ExitCode::Ok : ExitCode::Usage;
    }

private:
    std::string file_;
};

}  // namespace

std::unique_ptr<ICommand> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace brev::cli
