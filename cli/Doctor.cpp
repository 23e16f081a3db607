#include "cli/Doctor.h"

#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/ProgramFolder.h"
#include "base/Utf8Path.h"
#include "device/DeviceIdentity.h"
#include "device/MassDevice.h"
#include "device/linux/LinuxBackend.h"

namespace brev::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRuleName = "70-brevload.rules";

std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

DoctorCheck Ok(std::string what) { return {true, std::move(what), {}}; }
DoctorCheck Fail(std::string what, std::string fix) { return {false, std::move(what), std::move(fix)}; }

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

DoctorCheck SgModule(const DoctorSetup& s) {
    // Present whether sg is built in or loaded as a module.
    if (Exists(fs::path(s.sys.sysRoot) / "module/sg") ||
        Exists(fs::path(s.sys.sysRoot) / "class/scsi_generic"))
        return Ok("the SCSI generic driver (sg) is loaded");
    return Fail("the SCSI generic driver (sg) is not loaded: devices cannot be given commands",
                "sudo modprobe sg; to load it at every boot: echo sg | sudo tee /etc/modules-load.d/sg.conf");
}

DoctorCheck UdevRule(const DoctorSetup& s) {
    std::string install = "sudo cp " +
                          (s.shippedRule.empty() ? std::string(kRuleName) : PathToUtf8(s.shippedRule)) +
                          " /etc/udev/rules.d/ && sudo udevadm control --reload && sudo udevadm trigger, "
                          "then replug the devices";
    for (const fs::path& folder : s.rulesFolders) {
        const fs::path rule = folder / kRuleName;
        if (!Exists(rule)) continue;
        // The first copy found is the one udev uses: a copy in /etc hides the package's.
        std::ifstream in(rule, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string body = text.str();
        std::vector<std::string> missing;
        for (const std::string& vendor : VendorPatterns()) {
            if (body.find("ATTRS{vendor}==\"" + vendor) == std::string::npos)
                missing.push_back("vendor " + vendor);
        }
        if (body.find("scsi_generic") == std::string::npos) missing.push_back("the sg nodes");
        if (body.find("uaccess") == std::string::npos) missing.push_back("uaccess");
        if (!in || !missing.empty()) {
            std::string list;
            for (const auto& m : missing) list += (list.empty() ? "" : ", ") + m;
            return Fail("the udev rule " + PathToUtf8(rule) + " does not cover our devices" +
                            (list.empty() ? std::string(" (unreadable)") : " (no " + list + ")"),
                        "replace it with the rule this version ships: " + install);
        }
        return Ok("the udev rule " + PathToUtf8(rule) + " is installed and matches our devices");
    }
    std::string folders;
    for (const fs::path& f : s.rulesFolders) folders += (folders.empty() ? "" : ", ") + PathToUtf8(f);
    return Fail("the udev rule " + std::string(kRuleName) + " is not installed (looked in " + folders + ")",
                install);
}

std::vector<DoctorCheck> Devices(const DoctorSetup& s) {
    std::vector<DoctorCheck> checks;
    LinuxBackend backend(s.sys);
    const PatternList products = ProductPatterns(true);
    for (const VolumeRef& v : backend.ListVolumes()) {
        const DriveType type = backend.QueryDriveType(v.name, v.path);
        if (type != DriveType::Removable && type != DriveType::CdRom) continue;
        const auto id = backend.PeekIdentity(v.name, v.path);
        if (!id || id->bus != BusType::Usb ||
            !MatchesPatterns(id->vendor, id->product, VendorPatterns(), products))
            continue;
        const std::string who = v.name + " (" + Trimmed(id->vendor) + " " + Trimmed(id->product) +
                                (id->location.portPath.empty() ? "" : ", port " + id->location.portPath) +
                                ")";
        if (id->location.sgNode.empty()) {
            checks.push_back(Fail(who + " has no SCSI generic node", "sudo modprobe sg"));
        } else if (!s.mayOpen(id->location.sgNode)) {
            checks.push_back(
                Fail(who + ": this user may not open " + id->location.sgNode,
                     "install the udev rule (see above) and replug the device, or add yourself to "
                     "the plugdev group (sudo usermod -aG plugdev $USER) and log in again"));
        } else {
            checks.push_back(Ok(who + ": " + id->location.sgNode + " can be opened"));
        }
    }
    if (checks.empty()) checks.push_back(Ok("no device of ours is plugged in (nothing to check there)"));
    return checks;
}

DoctorCheck DevicePrograms(const DoctorSetup& s) {
    std::vector<std::string> missing;
    for (const char* name : {"spi.bin", "reset.bin"}) {
        std::ifstream in(s.deviceProgramsDir / name, std::ios::binary);
        if (!in || in.peek() == std::ifstream::traits_type::eof()) missing.push_back(name);
    }
    const std::string dir = PathToUtf8(s.deviceProgramsDir);
    if (missing.empty()) return Ok("the device programs spi.bin and reset.bin are in " + dir);
    std::string list;
    for (const auto& m : missing) list += (list.empty() ? "" : " and ") + m;
    return Fail("the device program" + std::string(missing.size() > 1 ? "s " : " ") + list +
                    (missing.size() > 1 ? " are" : " is") + " missing from " + dir +
                    " (external flash and --reset-after need them)",
                "copy the device programs from the chip's maker into " + dir + " (see the README there)");
}

DoctorCheck FolderWritable(const DoctorSetup& s) {
    const std::string dir = PathToUtf8(s.settingsFolder);
    std::error_code ec;
    fs::create_directories(s.settingsFolder, ec);
    const fs::path probe = s.settingsFolder / (".brevload-doctor-" + std::to_string(::getpid()));
    bool written = false;
    if (!ec) {
        written = static_cast<bool>(std::ofstream(probe, std::ios::binary) << "x");
        fs::remove(probe, ec);
    }
    if (written) return Ok("the settings and records folder " + dir + " is writable");
    return Fail("the settings and records folder " + dir + " cannot be written",
                "make it writable for this user (or point BREVLOAD_HOME at a folder that is)");
}

DoctorCheck Locale(const DoctorSetup& s) {
    std::string codeset = s.codeset;
    std::transform(codeset.begin(), codeset.end(), codeset.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    codeset.erase(std::remove(codeset.begin(), codeset.end(), '-'), codeset.end());
    const std::string what = "the locale in effect is " + s.locale + " (" + s.codeset + ")";
    if (codeset == "utf8") return Ok(what);
    return Fail(what + ": the Chinese operator texts need UTF-8",
                "export LANG=C.UTF-8 (or another UTF-8 locale), or run with --lang en");
}

}  // namespace

DoctorSetup SystemDoctorSetup() {
    DoctorSetup s;
    s.rulesFolders = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                      "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    const fs::path exeDir = ExecutablePath().parent_path();
    if (!exeDir.empty()) s.shippedRule = exeDir.parent_path() / "lib/udev/rules.d" / kRuleName;
    if (!Exists(s.shippedRule)) s.shippedRule.clear();
    s.mayOpen = [](const std::string& node) { return ::access(node.c_str(), R_OK | W_OK) == 0; };
    const ProgramFolders folders = CurrentProgramFolders();
    s.deviceProgramsDir = folders.deviceProgramsDir;
    s.settingsFolder = folders.settingsFile.parent_path();
    const char* name = std::setlocale(LC_CTYPE, "");
    s.locale = name != nullptr ? name : "C";
    s.codeset = nl_langinfo(CODESET);
    return s;
}

std::vector<DoctorCheck> RunDoctor(const DoctorSetup& setup) {
    std::vector<DoctorCheck> checks{SgModule(setup), UdevRule(setup)};
    for (DoctorCheck& c : Devices(setup)) checks.push_back(std::move(c));
    checks.push_back(DevicePrograms(setup));
    checks.push_back(FolderWritable(setup));
    checks.push_back(Locale(setup));
    return checks;
}

}  // namespace brev::cli
