#include "tests/e2e/gadget/ConfigFs.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace brev::gadget {

namespace {

bool WriteFile(const std::string& path, const std::string& value, std::string& error) {
    std::ofstream out(path);
    out << value;
    out.close();
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

}  // namespace

std::string ConfigFsGadget::gadgetDir() const { return setup_.configfsRoot + "/usb_gadget/" + setup_.name; }

bool ConfigFsGadget::Create(std::string& error) {
    const std::string g = gadgetDir();
    const std::string function = g + "/functions/ffs." + setup_.name;
    const std::string config = g + "/configs/c.1";
    auto makeDir = [&](const std::string& dir) {
        if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + dir + ": " + std::strerror(errno);
            return false;
        }
        made_.push_back(dir);
        return true;
    };
    if (!makeDir(g) || !WriteFile(g + "/idVendor", Hex4(setup_.idVendor), error) ||
        !WriteFile(g + "/idProduct", Hex4(setup_.idProduct), error) ||
        !WriteFile(g + "/bcdDevice", "0x0100", error) || !WriteFile(g + "/bcdUSB", "0x0200", error) ||
        (!setup_.maxSpeed.empty() && !WriteFile(g + "/max_speed", setup_.maxSpeed, error)) ||
        !makeDir(g + "/strings/0x409") ||
        !WriteFile(g + "/strings/0x409/manufacturer", setup_.manufacturer, error) ||
        !WriteFile(g + "/strings/0x409/product", setup_.product, error) ||
        !WriteFile(g + "/strings/0x409/serialnumber", setup_.serial, error) || !makeDir(config) ||
        !makeDir(config + "/strings/0x409") ||
        !WriteFile(config + "/strings/0x409/configuration", "Mass Storage", error) ||
        !WriteFile(config + "/MaxPower", "100", error) || !makeDir(function)) {
        return false;
    }
    const std::string link = config + "/ffs." + setup_.name;
    if (::symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
        error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
    made_.push_back(link);
    if (::mkdir(setup_.ffsDir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create " + setup_.ffsDir + ": " + std::strerror(errno);
        return false;
    }
    if (::mount(setup_.name.c_str(), setup_.ffsDir.c_str(), "functionfs", 0, nullptr) != 0) {
        error = "cannot mount FunctionFS at " + setup_.ffsDir + ": " + std::strerror(errno);
        return false;
    }
    mounted_ = true;
    return true;
}

bool ConfigFsGadget::Bind(const std::string& udc, std::string& error) {
    return WriteFile(gadgetDir() + "/UDC", udc, error);
}

void ConfigFsGadget::Unbind() {
    std::string ignored;
    if (!made_.empty()) (void)WriteFile(gadgetDir() + "/UDC", "\n", ignored);
}

void ConfigFsGadget::Remove() {
    Unbind();
    if (mounted_ && ::umount(setup_.ffsDir.c_str()) == 0) mounted_ = false;
    // configfs wants children gone before their parents: undo in reverse order.
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        struct stat st {};
        if (::lstat(it->c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            (void)::unlink(it->c_str());
        } else {
            (void)::rmdir(it->c_str());
        }
    }
    made_.clear();
}

}  // namespace brev::gadget
