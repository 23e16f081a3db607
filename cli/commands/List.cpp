// list: the devices present, with what they report of themselves.
#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Command.h"
#include "cli/Session.h"
#include "device/MassDevice.h"

namespace brev::cli {
namespace {

// Device strings come padded with blanks.
std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

class ListCommand : public ICommand {
public:
    const char* Name() const override { return "list"; }
    const char* Description() const override {
        return "List the devices present: name, path, vendor, product, mode (exit 3 when there is none)";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override { (void)sub; }

    ExitCode Execute(CommandContext& ctx) override {
        Session& session = *ctx.session;
        struct Line {
            std::string name, path, vendor, product, mode;
        };
        std::vector<Line> lines;
        for (const PresentDevice& d : session.Select(session.Scan())) {
            MassDevice device(session.backend(), d.devicePath, d.name, session.vendorPatterns(),
                              session.productPatterns());
            Line line{d.name, d.devicePath, "?", Trimmed(d.productId),
                      IsPcModeProduct(d.productId) ? "pc" : "download"};
            if (device.Open() != 0) {
                line.vendor = Trimmed(device.GetVendorId());
                device.Close();
            }
            lines.push_back(std::move(line));
        }
        if (lines.empty()) {
            ctx.output.Error("no device present");
            return ExitCode::NoDevice;
        }

        size_t w[4] = {4, 4, 6, 7};
        for (const Line& l : lines) {
            w[0] = std::max(w[0], l.name.size());
            w[1] = std::max(w[1], l.path.size());
            w[2] = std::max(w[2], l.vendor.size());
            w[3] = std::max(w[3], l.product.size());
        }
        auto row = [&w](const std::string& a, const std::string& b, const std::string& c,
                        const std::string& d, const std::string& e) {
            auto pad = [](std::string s, size_t n) { return s.append(n - std::min(n, s.size()), ' '); };
            return pad(a, w[0]) + "  " + pad(b, w[1]) + "  " + pad(c, w[2]) + "  " + pad(d, w[3]) + "  " + e;
        };
        if (ctx.output.mode() != OutputMode::Json) {
            ctx.output.Result(row("NAME", "PATH", "VENDOR", "PRODUCT", "MODE"), JsonObject());
        }
        for (const Line& l : lines) {
            JsonObject json = JsonEvent("device", l.name);
            json.Add("path", l.path).Add("vendor", l.vendor).Add("product", l.product).Add("mode", l.mode);
            ctx.output.Result(row(l.name, l.path, l.vendor, l.product, l.mode), json);
        }
        return ExitCode::Ok;
    }
};

}  // namespace

std::unique_ptr<ICommand> MakeListCommand() { return std::make_unique<ListCommand>(); }

}  // namespace brev::cli
