#include "app/settings/SettingsStore.h"

namespace brev {

IniSettingsStore::IniSettingsStore(std::filesystem::path file, IniFile::RenameFn rename)
    : file_(std::move(file)), rename_(std::move(rename)) {
    // An unreadable file reads as empty: every value takes its default.
    if (auto loaded = IniFile::Load(file_)) {
        snapshot_ = std::move(*loaded);
    }
}

int IniSettingsStore::ReadInt(std::string_view section, std::string_view key, int def) {
    return snapshot_.GetInt(section, key, def);
}

std::string IniSettingsStore::ReadString(std::string_view section, std::string_view key,
                                         std::string_view def) {
    // Uncut: a long path must come back whole.
    const auto value = snapshot_.Get(section, key);
    return value ? *value : std::string(def);
}

bool IniSettingsStore::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // Check now, so the caller learns of a refused value at the write that caused it.
    IniFile probe;
    if (!probe.Set(section, key, value)) {
        return false;
    }
    pending_.push_back({std::string(section), std::string(key), std::string(value)});
    return true;
}

bool IniSettingsStore::Commit() {
    // Start from the file as it is now, so edits made since opening are kept. A file that
    // exists but cannot be read is not overwritten.
    commitError_.clear();
    auto current = IniFile::Load(file_);
    if (!current) {
        commitError_ = std::make_error_code(std::errc::permission_denied).message();
        return false;
    }
    for (const auto& w : pending_) {
        current->Set(w.section, w.key, w.value);
    }
    std::error_code error;
    if (!current->Save(file_, rename_, &error)) {
        commitError_ = error.message();
        return false;
    }
    pending_.clear();
    snapshot_ = std::move(*current);
    return true;
}

}  // namespace brev
