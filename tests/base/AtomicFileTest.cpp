#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/AtomicFile.h"
#include "base/FileChecks.h"
#include "tests/support/TempDir.h"
#ifdef __linux__
#include <sys/stat.h>

#include "tests/support/SmallDisk.h"
#endif

namespace brev {
namespace {

namespace fs = std::filesystem;

size_t EntriesIn(const fs::path& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

TEST(AtomicFileTest, ReplacesTheTargetOnlyOnCommit) {
    test::TempDir dir;
    const auto target = dir / "out.bin";
    test::WriteText(target, "old");
    {
        AtomicFile file(target);
        ASSERT_FALSE(file.Open());
        ASSERT_FALSE(file.Write("new data", 8));
        EXPECT_EQ(file.temporary().parent_path(), target.parent_path());
        EXPECT_EQ(test::ReadText(target), "old");
    }  // dropped without a commit
    EXPECT_EQ(test::ReadText(target), "old");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    ASSERT_FALSE(WriteFileAtomically(target, "new data", 8));
    EXPECT_EQ(test::ReadText(target), "new data");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    // A folder that is not there takes no file; the error is the system's.
    EXPECT_EQ(WriteFileAtomically(dir / "none" / "x", "a", 1), std::errc::no_such_file_or_directory);
}

#ifdef __linux__
// A device node or a link stays what it is: the node is written in place, the file behind
// the link is replaced.
TEST(AtomicFileTest, NodesAreWrittenInPlaceAndLinksFollowed) {
    ASSERT_FALSE(WriteFileAtomically("/dev/null", "x", 1));
    EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);
    EXPECT_EQ(WriteFileAtomically("/dev/full", "x", 1), std::errc::no_space_on_device);
    EXPECT_EQ(fs::status("/dev/full").type(), fs::file_type::character);

    test::TempDir dir;
    test::WriteText(dir / "real.bin", "old");
    fs::create_symlink(dir / "real.bin", dir / "link.bin");
    ASSERT_FALSE(WriteFileAtomically(dir / "link.bin", "new", 3));
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(test::ReadText(dir / "real.bin"), "new");
}

TEST(AtomicFileTest, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const auto target = disk / "out.bin";
    test::WriteText(target, "old");
    const std::vector<char> big(256 * 1024, 'x');
    const std::error_code ec = WriteFileAtomically(target, big.data(), big.size());
    EXPECT_EQ(ec, std::errc::no_space_on_device);
    EXPECT_EQ(test::ReadText(target), "old");
    EXPECT_EQ(disk.FileCount(), 1u);
}
#endif

TEST(AtomicFileTest, LeftoverTemporariesOfTheTargetAloneAreRemovedOnceOld) {
    test::TempDir dir;
    const auto target = dir / "confile.inf";
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    const std::vector<std::pair<std::string, bool>> files = {
        {".confile.inf.123.tmp", false},  // left by a killed save
        {".confile.inf.456.tmp", true},   // a save running now
        {".confile.inf.x1.tmp", true},   {".other.inf.123.tmp", true}, {"confile.inf", true},
    };
    for (const auto& [name, stays] : files) {
        test::WriteText(dir / name, "x");
        if (name != ".confile.inf.456.tmp") fs::last_write_time(dir / name, old);
    }
    RemoveLeftoverTemporaries(target, 10);
    for (const auto& [name, stays] : files) EXPECT_EQ(fs::exists(dir / name), stays) << name;
}

TEST(FileChecksTest, OnlyReadableRegularFilesAreInputs) {
    test::TempDir dir;
    test::WriteText(dir / "data.bin", "abc");
    test::WriteText(dir / "empty.bin", "");
    fs::create_directory(dir / "folder");
    EXPECT_EQ(InputFileProblem(dir / "data.bin"), "");
    EXPECT_EQ(InputFileProblem(dir / "empty.bin", /*emptyOk=*/true), "");
    EXPECT_EQ(InputFileProblem(dir / "empty.bin"), "the file is empty");
    EXPECT_EQ(InputFileProblem(dir / "folder"), "a folder, not a file");
    EXPECT_EQ(InputFileProblem(dir / "missing"), "no such file");
#ifdef __linux__
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(InputFileProblem(dir / "fifo"), "not a regular file");  // returns: nothing opened it
    EXPECT_EQ(InputFileProblem("/dev/null"), "not a regular file");
#endif

    const size_t entries = EntriesIn(dir.path());
    EXPECT_EQ(OutputFileProblem(dir / "new.bin"), "");
    EXPECT_EQ(OutputFileProblem(dir / "data.bin"), "");
    EXPECT_EQ(OutputFileProblem(dir / "folder"), "a folder, not a file");
    EXPECT_NE(OutputFileProblem(dir / "none" / "x.bin"), "");
    EXPECT_EQ(EntriesIn(dir.path()), entries);  // the probe file is gone again
}

TEST(FileChecksTest, SameFileSeesThroughRelativeNamesAndLinks) {
    test::TempDir dir;
    test::WriteText(dir / "a.bin", "a");
    EXPECT_TRUE(SameFile(dir / "a.bin", dir / "." / "a.bin"));
    EXPECT_TRUE(SameFile(dir / "x" / ".." / "new.bin", dir / "new.bin"));  // neither exists
    EXPECT_FALSE(SameFile(dir / "a.bin", dir / "b.bin"));
#ifndef _WIN32
    fs::create_symlink(dir / "a.bin", dir / "link.bin");
    EXPECT_TRUE(SameFile(dir / "link.bin", dir / "a.bin"));
#endif
}

}  // namespace
}  // namespace brev
