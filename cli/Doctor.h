// doctor: what stands between this machine and a working station, each problem with its fix.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/linux/LinuxSystem.h"

namespace brev::cli {

struct DoctorSetup {
    LinuxSystem sys;                                       // sysfs and /dev roots, libudev's answers
    std::vector<std::filesystem::path> rulesFolders;       // where udev reads rules, highest priority first
    std::filesystem::path shippedRule;                     // the install's own copy of the rule
    std::function<bool(const std::string& node)> mayOpen;  // read-write access for this user
    std::filesystem::path deviceProgramsDir;
    std::filesystem::path settingsFolder;  // the records file lives here too
    std::string locale;                    // the name of the locale in effect
    std::string codeset;                   // its character set
};

struct DoctorCheck {
    bool ok = false;
    std::string what;  // what was found
    std::string fix;   // how to put it right; empty when ok
};

// This machine: /sys, /dev, udev's rule folders, the program's folders, the process locale.
DoctorSetup SystemDoctorSetup();

std::vector<DoctorCheck> RunDoctor(const DoctorSetup& setup);

}  // namespace brev::cli
