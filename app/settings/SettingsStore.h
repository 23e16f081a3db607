// Where settings are read from and written to. Reads see the file as it was when the store was
// opened; writes are queued and reach the file together at Commit, replacing it in one step.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings/IniFile.h"

namespace brev {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // The leading decimal number of the value; `def` when the file, section or key is missing.
    virtual int ReadInt(std::string_view section, std::string_view key, int def) = 0;
    // The value; `def` when missing. The Windows profile functions cut it to 259 characters;
    // the portable store returns it as long as it was written.
    virtual std::string ReadString(std::string_view section, std::string_view key, std::string_view def) = 0;
    // Queues a write; false (nothing queued) for text that cannot be stored as one INI line.
    virtual bool WriteString(std::string_view section, std::string_view key, std::string_view value) = 0;
    // Writes the queued values; the file is created when missing. False when it was not replaced.
    virtual bool Commit() = 0;
    // Why the last Commit failed, in the system's words; empty when it succeeded.
    virtual std::string commitError() const = 0;
};

// The platform's store for a settings file: the profile functions on Windows, IniFile elsewhere.
std::unique_ptr<ISettingsStore> OpenSettingsStore(const std::filesystem::path& file);

// The portable store over IniFile.
class IniSettingsStore : public ISettingsStore {
public:
    explicit IniSettingsStore(std::filesystem::path file, IniFile::RenameFn rename = {});

    int ReadInt(std::string_view section, std::string_view key, int def) override;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) override;
    bool WriteString(std::string_view section, std::string_view key, std::string_view value) override;
    bool Commit() override;
    std::string commitError() const override { return commitError_; }

private:
    struct Write {
        std::string section, key, value;
    };

    std::filesystem::path file_;
    IniFile::RenameFn rename_;
    IniFile snapshot_;
    std::vector<Write> pending_;
    std::string commitError_;
};

}  // namespace brev
