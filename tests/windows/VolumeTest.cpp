#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/windows/WindowsBackend.h"
#include "tests/windows/FakeWindows.h"

namespace brev {
namespace {

using test::FakeWindows;

std::vector<std::string> Names(const std::vector<VolumeRef>& volumes) {
    std::vector<std::string> names;
    for (const auto& v : volumes) names.push_back(v.name);
    return names;
}

DWORD Bit(char letter) { return DWORD{1} << (letter - 'A'); }

TEST(WindowsVolumes, ScanListsLettersBToZAndNeverA) {
    FakeWindows fake;
    auto backend = MakeWindowsBackend(fake.System());

    fake.drives = Bit('A') | Bit('C');
    const auto volumes = backend->ListVolumes();
    ASSERT_EQ(Names(volumes), std::vector<std::string>{"C"});
    EXPECT_EQ(volumes[0].path, "\\\\.\\C:");

    fake.drives = Bit('Z') | Bit('F') | Bit('E') | Bit('B') | (DWORD{1} << 26);
    EXPECT_EQ(Names(backend->ListVolumes()), (std::vector<std::string>{"B", "E", "F", "Z"}));
}

TEST(WindowsVolumes, DriveTypeOfTheLetterRoot) {
    const std::pair<UINT, DriveType> cases[] = {
        {DRIVE_REMOVABLE, DriveType::Removable},   {DRIVE_CDROM, DriveType::CdRom},
        {DRIVE_FIXED, DriveType::Fixed},           {DRIVE_REMOTE, DriveType::Remote},
        {DRIVE_NO_ROOT_DIR, DriveType::NoRootDir}, {DRIVE_RAMDISK, DriveType::Unknown},
        {DRIVE_UNKNOWN, DriveType::Unknown},
    };
    for (const auto& [win, expected] : cases) {
        SCOPED_TRACE(win);
        FakeWindows fake;
        fake.driveType = win;
        EXPECT_EQ(MakeWindowsBackend(fake.System())->QueryDriveType("E", "\\\\.\\E:"), expected);
        EXPECT_EQ(fake.driveTypeRoots, std::vector<std::wstring>{L"E:\\"});
    }
    FakeWindows fake;
    EXPECT_EQ(MakeWindowsBackend(fake.System())->QueryDriveType("sdb", "/dev/sdb"), DriveType::Unknown);
    EXPECT_TRUE(fake.driveTypeRoots.empty());
}

TEST(WindowsVolumes, OpensReadWriteSharedExistingAndClosesOnce) {
    FakeWindows fake;
    auto backend = MakeWindowsBackend(fake.System());
    OpenError err = OpenError::Other;
    auto handle = backend->OpenVolume("E", "\\\\.\\E:", &err);
    ASSERT_TRUE(handle);
    EXPECT_EQ(err, OpenError::None);
    EXPECT_EQ(fake.openedPath, L"\\\\.\\E:");
    EXPECT_EQ(fake.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(fake.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(fake.disposition, static_cast<DWORD>(OPEN_EXISTING));
    backend.reset();  // the handle keeps what it needs
    EXPECT_EQ(fake.closes, 0);
    handle.reset();
    EXPECT_EQ(fake.closes, 1);
}

TEST(WindowsVolumes, OpenFailuresAreReportedByKind) {
    const std::pair<DWORD, OpenError> cases[] = {
        {ERROR_FILE_NOT_FOUND, OpenError::NotFound},
        {ERROR_PATH_NOT_FOUND, OpenError::NotFound},
        {ERROR_NOT_READY, OpenError::NotFound},
        {ERROR_DEVICE_NOT_CONNECTED, OpenError::NotFound},
        {ERROR_ACCESS_DENIED, OpenError::PermissionDenied},
        {ERROR_SHARING_VIOLATION, OpenError::Busy},
        {ERROR_GEN_FAILURE, OpenError::Other},
    };
    for (const auto& [win, expected] : cases) {
        SCOPED_TRACE(win);
        FakeWindows fake;
        fake.openError = win;
        auto backend = MakeWindowsBackend(fake.System());
        OpenError err = OpenError::None;
        EXPECT_FALSE(backend->OpenVolume("E", "\\\\.\\E:", &err));
        EXPECT_EQ(err, expected);
        EXPECT_EQ(backend->OpenErrorHint("E", "\\\\.\\E:", err).empty(),
                  expected != OpenError::PermissionDenied);
        EXPECT_EQ(fake.closes, 0);
    }
}

// The real calls, as far as Wine has them: its drive C is a fixed disk, and a letter that is
// not mapped cannot be opened.
TEST(WindowsVolumes, RealSystemSeesTheFixedDriveC) {
    auto backend = MakeWindowsBackend();
    const auto volumes = backend->ListVolumes();
    const auto c =
        std::find_if(volumes.begin(), volumes.end(), [](const VolumeRef& v) { return v.name == "C"; });
    ASSERT_NE(c, volumes.end());
    EXPECT_EQ(c->path, "\\\\.\\C:");
    EXPECT_EQ(backend->QueryDriveType("C", c->path), DriveType::Fixed);

    const DWORD drives = ::GetLogicalDrives();
    char missing = 0;
    for (char l = 'Z'; l > 'B' && !missing; --l) {
        if (!(drives & Bit(l))) missing = l;
    }
    ASSERT_NE(missing, 0);
    OpenError err = OpenError::None;
    EXPECT_FALSE(backend->OpenVolume(std::string(1, missing), VolumeForLetter(missing).path, &err));
    EXPECT_EQ(err, OpenError::NotFound);
}

}  // namespace
}  // namespace brev
