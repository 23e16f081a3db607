#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "device/windows/DeviceChange.h"

namespace brev {
namespace {

DEV_BROADCAST_VOLUME Volume(DWORD unitMask, DWORD deviceType = DBT_DEVTYP_VOLUME,
                            DWORD size = sizeof(DEV_BROADCAST_VOLUME)) {
    DEV_BROADCAST_VOLUME v{};
    v.dbcv_size = size;
    v.dbcv_devicetype = deviceType;
    v.dbcv_unitmask = unitMask;
    return v;
}

DWORD Bit(char letter) { return DWORD{1} << (letter - 'A'); }

struct Case {
    const char* what;
    WPARAM event;
    DEV_BROADCAST_VOLUME volume;
    bool nullHeader;
    std::optional<DeviceEvent::Kind> kind;
    std::string name;
};

TEST(WindowsDeviceChange, DecodesOnlyTheLowestLetterOfAVolumeArrivalOrRemoval) {
    const Case cases[] = {
        {"arrival of E and F", DBT_DEVICEARRIVAL, Volume(Bit('E') | Bit('F')), false,
         DeviceEvent::Kind::Arrival, "E"},
        {"removal of Z", DBT_DEVICEREMOVECOMPLETE, Volume(Bit('Z')), false, DeviceEvent::Kind::Removal, "Z"},
        {"arrival of A", DBT_DEVICEARRIVAL, Volume(Bit('A')), false, DeviceEvent::Kind::Arrival, "A"},
        {"bits above Z", DBT_DEVICEARRIVAL, Volume((DWORD{1} << 26) | Bit('G')), false,
         DeviceEvent::Kind::Arrival, "G"},
        {"query remove", DBT_DEVICEQUERYREMOVE, Volume(Bit('E')), false, std::nullopt, ""},
        {"remove pending", DBT_DEVICEREMOVEPENDING, Volume(Bit('E')), false, std::nullopt, ""},
        {"nodes changed, no header", DBT_DEVNODES_CHANGED, Volume(0), true, std::nullopt, ""},
        {"arrival without header", DBT_DEVICEARRIVAL, Volume(0), true, std::nullopt, ""},
        {"device interface", DBT_DEVICEARRIVAL, Volume(Bit('E'), DBT_DEVTYP_DEVICEINTERFACE), false,
         std::nullopt, ""},
        {"port", DBT_DEVICEREMOVECOMPLETE, Volume(Bit('E'), DBT_DEVTYP_PORT), false, std::nullopt, ""},
        {"empty mask", DBT_DEVICEARRIVAL, Volume(0), false, std::nullopt, ""},
        {"header shorter than a volume", DBT_DEVICEARRIVAL, Volume(Bit('E'), DBT_DEVTYP_VOLUME, 12), false,
         std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LPARAM lParam = c.nullHeader ? 0 : reinterpret_cast<LPARAM>(&c.volume);
        const std::optional<DeviceEvent> e = DecodeDeviceChangeMessage(c.event, lParam);
        ASSERT_EQ(e.has_value(), c.kind.has_value());
        if (!e) continue;
        EXPECT_EQ(e->kind, *c.kind);
        EXPECT_EQ(e->volume.name, c.name);
        EXPECT_EQ(e->volume.path, "\\\\.\\" + c.name + ":");
    }
}

}  // namespace
}  // namespace brev
