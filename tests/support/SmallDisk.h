// A full disk on demand: a 64 KiB tmpfs mounted on a temporary folder (Linux, as root).
#pragma once

#include <sys/mount.h>

#include <string>

#include "tests/support/TempDir.h"

namespace brev::test {

class SmallDisk {
public:
    SmallDisk() : dir_("brev-disk") {
        mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // False where mounting is not allowed (no root); such tests skip.
    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(const std::filesystem::path& leaf) const { return dir_ / leaf; }
    std::size_t FileCount() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++n;
        return n;
    }

private:
    TempDir dir_;
    bool mounted_ = false;
};

}  // namespace brev::test
