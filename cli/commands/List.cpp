// list: the devices present, with what they report of themselves.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>

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
        return "List the devices present: name, slot, port, serial, nodes, vendor, product, mode (exit 3 "
               "when there is none)";
    }
    bool NeedsDevices() const override { return true; }
    void AddOptions(CLI::App& sub) override { (void)sub; }

    ExitCode Execute(CommandContext& ctx) override {
        Session& session = *ctx.session;
        struct Line {
            std::string name, slot, port, serial, sgNode, blockNode, path, vendor, product, mode;
            // What the system calls it: its nodes, else the path it is opened by.
            std::string nodes() const {
                if (blockNode.empty() && sgNode.empty()) return path;
                if (blockNode.empty() || sgNode.empty()) return blockNode + sgNode;
                return blockNode + "," + sgNode;
            }
        };
        std::vector<Line> lines;
        std::vector<PresentDevice> chosen;
        if (!session.Select(session.Scan(), chosen)) return ExitCode::NoDevice;
        for (const PresentDevice& d : chosen) {
            MassDevice device(session.backend(), d.devicePath, d.name, session.vendorPatterns(),
                              session.productPatterns());
            const DeviceLocation& at = d.location;
            Line line{d.name,
                      d.slot,
                      at.portPath,
                      at.serial,
                      at.sgNode,
                      at.blockNode,
                      d.devicePath,
                      "?",
                      Trimmed(d.productId),
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

        constexpr size_t kColumns = 8;
        using Cells = std::array<std::string, kColumns>;
        const auto dash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
        std::vector<Cells> table{{"NAME", "SLOT", "PORT", "SERIAL", "NODES", "VENDOR", "PRODUCT", "MODE"}};
        for (const Line& l : lines) {
            table.push_back({l.name, dash(l.slot), dash(l.port), dash(l.serial), dash(l.nodes()), l.vendor,
                             l.product, l.mode});
        }
        std::array<size_t, kColumns> w{};
        for (const Cells& c : table) {
            for (size_t i = 0; i < kColumns; ++i) w[i] = std::max(w[i], c[i].size());
        }
        auto row = [&w](const Cells& c) {
            std::string text;
            for (size_t i = 0; i < kColumns; ++i) {
                text += c[i];
                if (i + 1 < kColumns) text.append(w[i] - c[i].size() + 2, ' ');
            }
            return text;
        };
        const auto addText = [](JsonObject& json, const char* key, const std::string& value) {
            if (value.empty()) {
                json.AddNull(key);
            } else {
                json.Add(key, value);
            }
        };
        if (ctx.output.mode() != OutputMode::Json) ctx.output.Result(row(table[0]), JsonObject());
        for (size_t i = 0; i < lines.size(); ++i) {
            const Line& l = lines[i];
            JsonObject json = JsonEvent("device", l.name);
            addText(json, "slot", l.slot);
            addText(json, "port", l.port);
            addText(json, "serial", l.serial);
            addText(json, "sgNode", l.sgNode);
            addText(json, "blockNode", l.blockNode);
            json.Add("path", l.path).Add("vendor", l.vendor).Add("product", l.product).Add("mode", l.mode);
            ctx.output.Result(row(table[i + 1]), json);
        }
        return ExitCode::Ok;
    }
};

}  // namespace

std::unique_ptr<ICommand> MakeListCommand() { return std::make_unique<ListCommand>(); }

}  // namespace brev::cli
