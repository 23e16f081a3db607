// doctor against a fake sysfs tree, udev rule folders and program folders.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/Doctor.h"
#include "tests/linux/FakeLinux.h"
#include "tests/support/TempDir.h"

namespace brev::cli {
namespace {

namespace fs = std::filesystem;
using test::FakeDisk;
using test::FakeSysfs;

const char* kGoodRule =
    "SUBSYSTEM==\"scsi_generic\", KERNEL==\"sg*\", ATTRS{vendor}==\"BRVNTIS*\", TAG+=\"uaccess\", "
    "GROUP=\"plugdev\"\n";

struct World {
    bool sgLoaded = true;
    const char* rule = kGoodRule;  // null: none installed
    std::vector<FakeDisk> disks;
    std::vector<std::string> forbidden;  // nodes this user may not open
    bool programs = true;
    bool folderWritable = true;
    std::string codeset = "UTF-8";
};

struct Case {
    const char* what;
    World world;
    std::vector<std::string> failures;  // a part of each failed check's text, in order
};

FakeDisk Ours(const char* name, const char* sg) {
    return {name, 0, true, true, "BRVNTIS ", "DEVICE          ", sg};
}

TEST(Doctor, FindsEachProblemAndNothingElse) {
    const FakeDisk foreign{"sdb", 0, true, true, "OTHERVND", "FLASH DISK      ", "sg0"};
    Case cases[] = {
        {"all well", {}, {}},
        {"all well with a device of ours", {.disks = {Ours("sdc", "sg2")}}, {}},
        {"rule missing", {.rule = nullptr}, {"70-brevload.rules is not installed"}},
        {"rule without uaccess", {.rule = "ATTRS{vendor}==\"BRVNTIS*\" scsi_generic\n"}, {"no uaccess"}},
        {"sg not loaded, device without its node",
         {.sgLoaded = false, .disks = {Ours("sdc", "")}},
         {"(sg) is not loaded", "sdc (BRVNTIS DEVICE, port 1-0) has no SCSI generic node"}},
        {"node not permitted", {.disks = {Ours("sdc", "sg2")}, .forbidden = {"sg2"}}, {"may not open"}},
        {"a foreign disk not permitted is none of ours", {.disks = {foreign}, .forbidden = {"sg0"}}, {}},
        {"no device programs", {.programs = false}, {"spi.bin and reset.bin are missing"}},
        {"folder not writable", {.folderWritable = false}, {"cannot be written"}},
        {"locale not UTF-8", {.codeset = "ANSI_X3.4-1968"}, {"need UTF-8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const World& w = c.world;
        FakeSysfs fake;
        for (const FakeDisk& d : w.disks) fake.Add(d);
        if (w.sgLoaded) fs::create_directories(fake.sysRoot() + "/module/sg");
        test::TempDir tmp;
        DoctorSetup setup;
        setup.sys = fake.System();
        setup.rulesFolders = {tmp.path() / "etc", tmp.path() / "lib"};
        if (w.rule != nullptr) {
            fs::create_directories(tmp.path() / "lib");
            std::ofstream(tmp.path() / "lib/70-brevload.rules") << w.rule;
        }
        const auto forbidden = w.forbidden;
        const std::string devRoot = fake.devRoot();
        setup.mayOpen = [forbidden, devRoot](const std::string& node) {
            for (const auto& f : forbidden)
                if (node == devRoot + "/" + f) return false;
            return true;
        };
        setup.deviceProgramsDir = tmp.path() / "data";
        fs::create_directories(setup.deviceProgramsDir);
        if (w.programs) {
            for (const char* name : {"spi.bin", "reset.bin"})
                std::ofstream(setup.deviceProgramsDir / name) << "x";
        }
        // A folder below a plain file cannot be made, not even by root.
        std::ofstream(tmp.path() / "file") << "x";
        setup.settingsFolder =
            w.folderWritable ? tmp.path() / "config/brevload" : tmp.path() / "file/brevload";
        setup.locale = "xx_XX";
        setup.codeset = w.codeset;

        std::vector<std::string> failed;
        for (const DoctorCheck& check : RunDoctor(setup)) {
            if (check.ok) continue;
            EXPECT_FALSE(check.fix.empty()) << check.what;
            failed.push_back(check.what);
        }
        ASSERT_EQ(failed.size(), c.failures.size()) << (failed.empty() ? "" : failed[0]);
        for (size_t i = 0; i < failed.size(); ++i)
            EXPECT_NE(failed[i].find(c.failures[i]), std::string::npos) << failed[i];
    }
}

}  // namespace
}  // namespace brev::cli
