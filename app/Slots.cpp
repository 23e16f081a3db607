#include "app/Slots.h"

#include <optional>
#include <string_view>
#include <system_error>

#include "app/settings/IniFile.h"
#include "base/FileChecks.h"
#include "base/Utf8Path.h"

namespace brev {

bool SlotMap::Load(const std::filesystem::path& file, std::string& error) {
    // A missing file would read as an empty one; a slots file asked for must be there, and a
    // FIFO must not hang the run.
    if (const std::string problem = InputFileProblem(file, true); !problem.empty()) {
        error = PathToUtf8(file) + ": " + problem;
        return false;
    }
    const std::optional<IniFile> ini = IniFile::Load(file);
    if (!ini) {
        error = PathToUtf8(file) + ": cannot be read";
        return false;
    }
    labels_.clear();
    for (const std::string& port : ini->Keys("slots")) {
        std::string label = ini->Get("slots", port).value_or("");
        if (!label.empty()) labels_.emplace(port, std::move(label));
    }
    return true;
}

std::string SlotMap::LabelFor(const std::string& portPath) const {
    if (portPath.empty()) return {};
    const auto it = labels_.find(portPath);
    return it == labels_.end() ? std::string() : it->second;
}

std::string DeviceLabel(const std::string& name, const std::string& slot) {
    return slot.empty() ? name : name + " [" + slot + "]";
}

std::string DeviceLabel(const PresentDevice& device) { return DeviceLabel(device.name, device.slot); }

std::string DeviceTip(const PresentDevice& device) {
    std::string tip = DeviceLabel(device);
    for (const std::string* part : {&device.location.portPath, &device.location.serial}) {
        if (!part->empty()) tip += "  " + *part;
    }
    return tip;
}

namespace {

// "e:", "E:" and "E:\\" name the same Windows drive as the node "E:".
bool SameDriveLetter(std::string_view selector, std::string_view node) {
    if (node.size() != 2 || node[1] != ':') return false;
    if (selector.ends_with('\\')) selector.remove_suffix(1);
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return selector.size() == 2 && selector[1] == ':' && upper(selector[0]) == upper(node[0]);
}

}  // namespace

bool MatchDevice(const std::string& selector, const PresentDevice& device) {
    const auto wanted = [&selector](const char* prefix, const std::string& value) -> std::optional<bool> {
        const std::string_view p(prefix);
        if (!selector.starts_with(p)) return std::nullopt;
        return !value.empty() && selector.substr(p.size()) == value;
    };
    const DeviceLocation& at = device.location;
    if (const auto m = wanted("port:", at.portPath)) return *m;
    if (const auto m = wanted("serial:", at.serial)) return *m;
    if (const auto m = wanted("slot:", device.slot)) return *m;
    if (selector.empty()) return false;
    return selector == device.name || selector == device.devicePath || selector == at.sgNode ||
           selector == at.blockNode || SameDriveLetter(selector, at.blockNode);
}

}  // namespace brev
