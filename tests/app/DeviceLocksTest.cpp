// The platform's device locks: held against every other holder (another thread stands in for
// another process; the lock is the system's either way), released with the holder, and kept
// apart by folder.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/DeviceLocks.h"
#include "tests/support/TempDir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brev {
namespace {

// An attempt on a thread of its own (a Windows mutex is re-entrant for its owner thread).
// The lock, when taken, is released again by that thread.
DeviceLockAttempt TryElsewhere(IDeviceLocks& locks, const std::string& key) {
    DeviceLockAttempt attempt;
    std::thread([&] {
        attempt = locks.TryLock(key);
        EXPECT_EQ(attempt.lock != nullptr, !attempt.busy) << attempt.error;
        attempt.lock.reset();
    }).join();
    return attempt;
}

TEST(DeviceLocks, OneHolderPerKeyAndFolder) {
    test::TempDir dir("brev-locks");
    auto mine = MakePlatformDeviceLocks(dir / "a");
    auto theirs = MakePlatformDeviceLocks(dir / "a");  // another process on the same devices
    auto elsewhere = MakePlatformDeviceLocks(dir / "b");

    DeviceLockAttempt held = mine->TryLock("port-0-1");
    ASSERT_NE(held.lock, nullptr) << held.error;

    const DeviceLockAttempt refused = TryElsewhere(*theirs, "port-0-1");
    EXPECT_EQ(refused.lock, nullptr);
    EXPECT_TRUE(refused.busy);
#ifndef _WIN32
    EXPECT_EQ(refused.holder, "process " + std::to_string(::getpid()));
    EXPECT_EQ(test::ReadBytes(dir / "a" / "port-0-1.lock").size(), std::to_string(::getpid()).size() + 1);
#endif
    EXPECT_FALSE(TryElsewhere(*theirs, "port-0-2").busy);
    EXPECT_FALSE(TryElsewhere(*elsewhere, "port-0-1").busy);

    held.lock.reset();
    const DeviceLockAttempt again = TryElsewhere(*theirs, "port-0-1");
    EXPECT_FALSE(again.busy) << again.holder;
#ifndef _WIN32
    EXPECT_TRUE(test::ReadBytes(dir / "a" / "port-0-1.lock").empty());  // no stale holder named
#endif
}

TEST(DeviceLocks, KeysBecomeSafeNames) {
    EXPECT_EQ(DeviceLockName("port-1-2.3"), "port-1-2.3");
    EXPECT_EQ(DeviceLockName("/dev/sdb"), "_dev_sdb");
    EXPECT_EQ(DeviceLockName("\\\\.\\E:"), "__._E_");
    EXPECT_EQ(DeviceLockName(".."), "_..");
}

}  // namespace
}  // namespace brev
