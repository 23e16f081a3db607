// A USB gadget made in configfs around one FunctionFS function, for running the program on its
// own: create, mount FunctionFS, bind to a UDC once the descriptors are in, and tear down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brev::gadget {

struct GadgetSetup {
    std::string configfsRoot = "/sys/kernel/config";
    std::string name = "brevload";  // gadget directory and FunctionFS instance name
    std::string ffsDir;             // where FunctionFS is mounted
    uint16_t idVendor = 0x1d6b;     // the Linux Foundation's composite-gadget ids
    uint16_t idProduct = 0x0104;
    std::string manufacturer, product, serial;
    std::string maxSpeed;  // configfs max_speed, e.g. "high-speed"; empty: as fast as the UDC goes
};

class ConfigFsGadget {
public:
    explicit ConfigFsGadget(GadgetSetup setup) : setup_(std::move(setup)) {}
    ~ConfigFsGadget() { Remove(); }
    ConfigFsGadget(const ConfigFsGadget&) = delete;
    ConfigFsGadget& operator=(const ConfigFsGadget&) = delete;

    // Makes the gadget's directories and mounts FunctionFS at setup.ffsDir.
    bool Create(std::string& error);
    bool Bind(const std::string& udc, std::string& error);
    void Unbind();
    // Unbinds, unmounts and removes what Create made (endpoint files must be closed first).
    void Remove();
    std::string gadgetDir() const;

private:
    GadgetSetup setup_;
    std::vector<std::string> made_;  // directories and links to remove, in creation order
    bool mounted_ = false;
};

}  // namespace brev::gadget
