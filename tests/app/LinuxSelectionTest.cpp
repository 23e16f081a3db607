// The station over the Linux backend (a fake tree): each selector finds its disk, nodes included.
#include <gtest/gtest.h>

#include <fstream>

#include "app/Station.h"
#include "tests/linux/FakeLinux.h"

namespace brev {
namespace {

using test::FakeCalls;
using test::FakeDisk;
using test::FakeSysfs;

TEST(LinuxSelection, EachSelectorFindsItsDisk) {
    FakeSysfs fake;
    fake.Add(FakeDisk{"sdb", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg1", "SER-B", "1-2.1"});
    fake.Add(FakeDisk{"sdc", 0, true, true, "BRVNTIS ", "DEVICE          ", "sg2", "SER-C", "1-2.2"});
    LinuxSystem sys = fake.System();
    FakeCalls calls;
    calls.Install(sys);

    test::TempDir dir("brev-select");
    std::ofstream(dir / "slots.ini") << "[slots]\n1-2.2=B\n";
    StationOptions options;
    options.backend = MakeLinuxBackend(sys);
    options.folders = FoldersUnder(dir.path());
    options.slotsFile = dir / "slots.ini";
    std::string error;
    const auto station = Station::Open(std::move(options), error);
    ASSERT_TRUE(station) << error;
    const std::vector<PresentDevice> present = station->Scan();
    ASSERT_EQ(present.size(), 2u);

    const std::string dev = fake.devRoot();
    const struct {
        std::string selector;
        const char* chosen;  // null: none
    } cases[] = {
        {"sdc", "sdc"},          {dev + "/sdc", "sdc"},   {dev + "/sg2", "sdc"}, {dev + "/sg1", "sdb"},
        {"port:1-2.2", "sdc"},   {"serial:SER-B", "sdb"}, {"slot:B", "sdc"},     {"port:1-2", nullptr},
        {dev + "/sg3", nullptr}, {"sg2", nullptr},        {"slot:", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        std::vector<std::string> chosen;
        for (const PresentDevice& d : present)
            if (MatchDevice(c.selector, d)) chosen.push_back(d.name);
        EXPECT_EQ(chosen, c.chosen ? std::vector<std::string>{c.chosen} : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace brev
