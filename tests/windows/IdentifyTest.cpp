#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/windows/WideText.h"
#include "device/MassDevice.h"
#include "device/windows/StorageDescriptor.h"
#include "device/windows/WindowsBackend.h"
#include "tests/windows/FakeWindows.h"

namespace brev {
namespace {

using test::Descriptor;
using test::FakeWindows;

constexpr uint32_t kUsb = 7;
constexpr uint32_t kSata = 11;

TEST(WindowsIdentify, SendsTheStandardDevicePropertyQuery) {
    FakeWindows fake;
    fake.descriptor = Descriptor(kUsb, 40, "V", 50, "P");
    OpenError err;
    auto handle = MakeWindowsBackend(fake.System())->OpenVolume("E", "\\\\.\\E:", &err);
    ASSERT_TRUE(handle);
    VolumeIdentity id;
    ASSERT_TRUE(handle->Identify(id));

    EXPECT_EQ(fake.codes, std::vector<DWORD>{0x2D1400u});
    // StorageDeviceProperty, PropertyStandardQuery, no additional parameters.
    EXPECT_EQ(fake.query, std::vector<uint8_t>(12, 0));
    // The 551-byte answer buffer goes out zeroed, with its Size field set to 551.
    std::vector<uint8_t> answer(551, 0);
    answer[4] = 551 & 0xFF;
    answer[5] = 551 >> 8;
    EXPECT_EQ(fake.answerOnEntry, answer);
}

TEST(WindowsIdentify, FailedQueryIsAFailedIdentification) {
    FakeWindows fake;
    fake.identifyFails = true;
    OpenError err;
    auto handle = MakeWindowsBackend(fake.System())->OpenVolume("E", "\\\\.\\E:", &err);
    ASSERT_TRUE(handle);
    VolumeIdentity id;
    EXPECT_FALSE(handle->Identify(id));
}

struct DescriptorCase {
    const char* what;
    std::vector<uint8_t> answer;
    BusType bus;
    std::string vendor, product;
};

TEST(WindowsIdentify, ParsesBusAndUntrimmedStringsFromTheDescriptor) {
    std::vector<uint8_t> unterminated = Descriptor(kUsb, 40, "BRVNTIS", 545, "DEVICEXYZ");
    const DescriptorCase cases[] = {
        {"usb", Descriptor(kUsb, 40, "BRVNTIS ", 60, "DEVICE          "), BusType::Usb, "BRVNTIS ",
         "DEVICE          "},
        {"other bus", Descriptor(kSata, 40, "BRVNTIS", 60, "DEVICE"), BusType::Other, "BRVNTIS", "DEVICE"},
        {"vendor offset 0", Descriptor(kUsb, 0, "", 60, "DEVICE"), BusType::Usb, "(NULL)", "DEVICE"},
        {"empty product", Descriptor(kUsb, 40, "BRVNTIS", 60, ""), BusType::Usb, "BRVNTIS", ""},
        // Offsets from the device are not trusted to stay inside the buffer.
        {"offset past the buffer", Descriptor(kUsb, 40, "BRVNTIS", 600, ""), BusType::Usb, "BRVNTIS", ""},
        {"string without NUL at the end", unterminated, BusType::Usb, "BRVNTIS", "DEVICE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWindows fake;
        fake.descriptor = c.answer;
        OpenError err;
        auto handle = MakeWindowsBackend(fake.System())->OpenVolume("E", "\\\\.\\E:", &err);
        ASSERT_TRUE(handle);
        VolumeIdentity id;
        ASSERT_TRUE(handle->Identify(id));
        EXPECT_EQ(id.bus, c.bus);
        EXPECT_EQ(id.vendor, c.vendor);
        EXPECT_EQ(id.product, c.product);
    }
}

// The descriptor's serial number, as USB storage drivers fill it: blank-padded, or absent.
TEST(WindowsIdentify, SerialNumberFromTheDescriptor) {
    const struct {
        const char* what;
        uint32_t offset;
        std::string text;
        std::string serial;
    } cases[] = {
        {"plain", 80, "A1B2C3", "A1B2C3"},       {"padded", 80, "  A1B2C3    ", "A1B2C3"},
        {"offset 0: none", 0, "", ""},           {"offset -1: none", 0xFFFFFFFF, "", ""},
        {"offset past the buffer", 700, "", ""}, {"blanks only", 80, "    ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto answer = Descriptor(kUsb, 40, "BRVNTIS", 60, "DEVICE");
        std::memcpy(answer.data() + 24, &c.offset, 4);
        std::memcpy(answer.data() + 80, c.text.data(), c.text.size());
        const VolumeIdentity id = ParseDeviceDescriptor(answer.data(), answer.size());
        EXPECT_EQ(id.location.serial, c.serial);
        EXPECT_EQ(id.product, "DEVICE");
    }
}

TEST(WindowsIdentify, LocationPathAndDriveLetterOfAUsbVolume) {
    FakeWindows fake;
    fake.descriptor = Descriptor(kUsb, 40, "BRVNTIS", 60, "DEVICE");
    WindowsSystem sys = fake.System();
    std::vector<HANDLE> asked;
    sys.usbLocationPath = [&asked](HANDLE h) {
        asked.push_back(h);
        return std::string("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)");
    };
    auto handle = MakeWindowsBackend(sys)->OpenVolume("E", "\\\\.\\E:", nullptr);
    ASSERT_TRUE(handle);
    VolumeIdentity id;
    ASSERT_TRUE(handle->Identify(id));
    EXPECT_EQ(id.location.portPath, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)");
    EXPECT_EQ(id.location.blockNode, "E:");
    EXPECT_EQ(asked, std::vector<HANDLE>{test::kFakeHandle});

    // A volume on another bus has no USB device to ask about.
    fake.descriptor = Descriptor(kSata, 40, "BRVNTIS", 60, "DEVICE");
    handle = MakeWindowsBackend(sys)->OpenVolume("F", "\\\\.\\F:", nullptr);
    ASSERT_TRUE(handle && handle->Identify(id));
    EXPECT_EQ(id.location.portPath, "");
    EXPECT_EQ(id.location.blockNode, "F:");
    EXPECT_EQ(asked.size(), 1u);
}

TEST(WindowsIdentify, FirstOfTheLocationPaths) {
    const wchar_t two[] = L"PCIROOT(0)#USB(1)\0ACPI(_SB_)#USB(1)\0\0";
    EXPECT_EQ(FirstMultiString(two, sizeof two / sizeof two[0]), "PCIROOT(0)#USB(1)");
    const wchar_t unterminated[] = {L'U', L'S', L'B'};
    EXPECT_EQ(FirstMultiString(unterminated, 3), "USB");
    EXPECT_EQ(FirstMultiString(two, 0), "");
    EXPECT_EQ(FirstMultiString(nullptr, 4), "");
}

TEST(WindowsIdentify, ConvertsFromTheAnsiCodePage) {
    if (::GetACP() != 1252) GTEST_SKIP() << "needs code page 1252, this system uses " << ::GetACP();
    const std::string latin1 = "Caf\xE9";
    EXPECT_EQ(win::Utf8FromAnsi(latin1), "Caf\xC3\xA9");
    const auto descriptor = test::Descriptor(7, 100, latin1, 200, "Ol\xE9");
    const VolumeIdentity id = ParseDeviceDescriptor(descriptor.data(), descriptor.size());
    EXPECT_EQ(id.vendor, "Caf\xC3\xA9");
    EXPECT_EQ(id.product, "Ol\xC3\xA9");
}

struct OpenCase {
    const char* what;
    UINT driveType;
    std::vector<uint8_t> answer;
    int opened;
    int handlesOpened;
};

TEST(WindowsIdentify, MassDeviceOpensOnlyAMatchingUsbVolume) {
    const PatternList vendors = {"BRVNTIS"};
    const PatternList products = {"DEVICE"};
    const auto match = Descriptor(kUsb, 40, "BRVNTIS ", 60, "DEVICE          ");
    const OpenCase cases[] = {
        {"removable, usb, matching", DRIVE_REMOVABLE, match, 1, 1},
        {"cd-rom, usb, matching", DRIVE_CDROM, match, 1, 1},
        {"fixed disk: never opened", DRIVE_FIXED, match, 0, 0},
        {"network drive: never opened", DRIVE_REMOTE, match, 0, 0},
        {"other bus", DRIVE_REMOVABLE, Descriptor(kSata, 40, "BRVNTIS", 60, "DEVICE"), 0, 1},
        {"empty product", DRIVE_REMOVABLE, Descriptor(kUsb, 40, "BRVNTIS", 60, ""), 0, 1},
        {"vendor in other case", DRIVE_REMOVABLE, Descriptor(kUsb, 40, "brvntis", 60, "DEVICE"), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWindows fake;
        fake.driveType = c.driveType;
        fake.descriptor = c.answer;
        {
            MassDevice dev(MakeWindowsBackend(fake.System()), "\\\\.\\E:", "E", vendors, products);
            EXPECT_EQ(dev.Open(), c.opened);
            EXPECT_EQ(fake.opens, c.handlesOpened);
            // A refused volume is closed at once; a matching one stays open until Close.
            EXPECT_EQ(fake.closes, c.opened ? 0 : c.handlesOpened);
            if (c.opened) {
                EXPECT_EQ(dev.GetProductId(), "DEVICE          ");
                dev.Close();
                EXPECT_EQ(fake.closes, 1);
            }
        }
        EXPECT_EQ(fake.closes, fake.opens);
    }
}

TEST(WindowsIdentify, MassDeviceTransferFailsOnCheckConditionAndOnIoFailure) {
    FakeWindows fake;
    fake.descriptor = Descriptor(kUsb, 40, "BRVNTIS", 60, "DEVICE");
    MassDevice dev(MakeWindowsBackend(fake.System()), "\\\\.\\E:", "E", {"BRVNTIS"}, {"DEVICE"});
    ASSERT_EQ(dev.Open(), 1);
    const uint8_t cdb[16] = {0xFD};
    uint8_t data[4] = {};

    EXPECT_TRUE(dev.TransferIn(cdb, sizeof data, data));
    fake.scsiStatus = 0x02;
    EXPECT_FALSE(dev.TransferIn(cdb, sizeof data, data));
    EXPECT_EQ(dev.lastTransfer().status, TransferStatus::CheckCondition);
    fake.scsiStatus = 0;
    fake.ioError = ERROR_DEVICE_NOT_CONNECTED;
    EXPECT_FALSE(dev.TransferOut(cdb, 0, nullptr));
    EXPECT_EQ(dev.lastTransfer().status, TransferStatus::NoDevice);
}

TEST(WindowsAdapterLimit, TheSmallerOfTransferLengthAndPagesThatAreSet) {
    const struct {
        const char* what;
        uint32_t maxTransferLength, maxPhysicalPages;
        std::size_t size;
        uint32_t expected;
    } cases[] = {
        {"length below the pages", 0x20000, 33, 32, 0x20000},
        {"pages below the length", 0x20000, 17, 32, 17 * 4096},
        {"length not set", 0, 32, 32, 32 * 4096},
        {"pages not set", 0x10000, 0, 32, 0x10000},
        {"neither set", 0, 0, 32, 0},
        {"pages beyond 32 bits", 0x1E000, 0xFFFFFFFF, 32, 0x1E000},
        {"answer too short for the pages", 0x20000, 17, 15, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto answer = test::AdapterDescriptor(c.maxTransferLength, c.maxPhysicalPages);
        EXPECT_EQ(ParseAdapterMaxTransfer(answer.data(), c.size, 4096), c.expected);
    }
}

TEST(WindowsAdapterLimit, MassDeviceTakesTheLimitFromTheAdapterQuery) {
    FakeWindows fake;
    fake.descriptor = Descriptor(kUsb, 40, "BRVNTIS", 60, "DEVICE");
    fake.adapter = test::AdapterDescriptor(0x1E000, 0xFFFFFFFF);
    MassDevice dev(MakeWindowsBackend(fake.System()), "\\\\.\\E:", "E", {"BRVNTIS"}, {"DEVICE"});
    ASSERT_EQ(dev.Open(), 1);
    EXPECT_EQ(fake.adapterQueries, 1);
    EXPECT_EQ(dev.maxTransfer(), 0x1E000u);
    // The device query stays the identification one.
    EXPECT_EQ(fake.query, std::vector<uint8_t>(12, 0));

    // An adapter that does not answer leaves the limit unknown: nothing is split.
    FakeWindows silent;
    silent.descriptor = fake.descriptor;
    MassDevice other(MakeWindowsBackend(silent.System()), "\\\\.\\E:", "E", {"BRVNTIS"}, {"DEVICE"});
    ASSERT_EQ(other.Open(), 1);
    EXPECT_EQ(silent.adapterQueries, 1);
    EXPECT_EQ(other.maxTransfer(), 0u);
}

}  // namespace
}  // namespace brev
