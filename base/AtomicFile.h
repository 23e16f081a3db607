// Output files written whole or not at all: the data goes to a temporary file beside the
// target, is flushed to the disk and then renamed over the target. A failure at any step
// removes the temporary file and leaves an old target as it was. A target that exists and is
// no regular file (a device node, a FIFO) is written in place instead.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace brev {

class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();  // an uncommitted temporary file is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; the first error is kept and returned by every later step.
    std::error_code Open();
    std::error_code Write(const void* data, std::size_t size);
    // Flushes, renames over the target and (on Linux) flushes the folder's entry.
    std::error_code Commit();
    // Drops what was written; the target stays as it was.
    void Discard();

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporary() const { return temp_; }
    std::error_code error() const { return error_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    std::error_code error_;
    bool committed_ = false;
    bool inPlace_ = false;  // the target is no regular file: written directly
};

// ".NAME.<number>.tmp" beside `target`: the name every temporary file of AtomicFile and the
// settings save takes, so a later save can find those a killed one left behind.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target);
// Removes the temporary files of `target` older than `minAgeSeconds` (a save that runs now
// keeps its own).
void RemoveLeftoverTemporaries(const std::filesystem::path& target, int minAgeSeconds);
// Flushes the folder's entries to the disk, so a rename in it survives a power cut (Linux;
// elsewhere nothing to do).
std::error_code SyncFolder(const std::filesystem::path& folder);

// The whole of `text` to `path`, whole or not at all.
std::error_code WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size);

}  // namespace brev
