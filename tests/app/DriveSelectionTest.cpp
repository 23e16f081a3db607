// A Windows device chosen by its drive letter, as an operator types it.
#include <gtest/gtest.h>

#include "app/Slots.h"

namespace brev {
namespace {

TEST(DriveSelection, ADriveLetterMatchesWhateverItsCaseAndTrailingBackslash) {
    PresentDevice device;
    device.name = "E";
    device.devicePath = "\\\\.\\E:";
    device.location.blockNode = "E:";
    struct Case {
        const char* selector;
        bool matches;
    };
    for (const Case c : {Case{"E:", true}, Case{"e:", true}, Case{"E:\\", true}, Case{"e:\\", true},
                         Case{"\\\\.\\E:", true}, Case{"F:", false}, Case{"E", true}, Case{"e", false},
                         Case{"E:\\x", false}, Case{":", false}, Case{"EE:", false}}) {
        EXPECT_EQ(MatchDevice(c.selector, device), c.matches) << c.selector;
    }
}

}  // namespace
}  // namespace brev
