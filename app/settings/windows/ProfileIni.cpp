// Settings on Windows, through the profile functions. Writes go to a copy of the file that
// then replaces it, so an interrupted save never leaves a half-written file. A new file starts
// as UTF-16LE with a byte-order mark: the profile functions then keep every character, where an
// ANSI file would lose a path outside the code page.
#include <windows.h>

#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "app/settings/SettingsStore.h"
#include "base/windows/WideText.h"

namespace brev {
namespace {

std::wstring Widen(std::string_view utf8) { return win::WideFromUtf8(utf8); }

std::string Narrow(std::wstring_view text) { return win::Utf8FromWide(text); }

bool CreateUnicodeIniFile(const std::wstring& path) {
    HANDLE h =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    static const unsigned char kBom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    const BOOL ok = WriteFile(h, kBom, sizeof(kBom), &written, nullptr);
    CloseHandle(h);
    return ok && written == sizeof(kBom);
}

class ProfileSettingsStore : public ISettingsStore {
public:
    explicit ProfileSettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

    int ReadInt(std::string_view section, std::string_view key, int def) override {
        return static_cast<int>(
            GetPrivateProfileIntW(Widen(section).c_str(), Widen(key).c_str(), def, file_.c_str()));
    }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) override {
        std::vector<wchar_t> buffer(kIniMaxStringLength + 1, L'\0');
        const DWORD n =
            GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(def).c_str(),
                                     buffer.data(), static_cast<DWORD>(buffer.size()), file_.c_str());
        return Narrow(std::wstring_view(buffer.data(), n));
    }

    bool WriteString(std::string_view section, std::string_view key, std::string_view value) override {
        IniFile probe;
        if (!probe.Set(section, key, value)) {
            return false;
        }
        pending_.push_back({Widen(section), Widen(key), Widen(value)});
        return true;
    }

    std::string commitError() const override { return commitError_; }

    bool Commit() override {
        commitError_.clear();
        std::random_device rd;
        std::filesystem::path tempName = L".";
        tempName += file_.filename();
        tempName += L"." + std::to_wstring(rd()) + L".tmp";
        const std::wstring temp = (file_.parent_path() / tempName).wstring();
        const std::wstring target = file_.wstring();

        const DWORD attributes = GetFileAttributesW(target.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
            return fail(ERROR_ACCESS_DENIED);
        }
        const bool prepared =
            exists ? CopyFileW(target.c_str(), temp.c_str(), FALSE) != 0 : CreateUnicodeIniFile(temp);
        if (!prepared) {
            const DWORD reason = GetLastError();
            DeleteFileW(temp.c_str());
            // A folder that takes no new file may still hold a writable settings file: write it
            // in place, giving up the all-or-nothing replacement only then.
            if (exists && reason == ERROR_ACCESS_DENIED) {
                return writeInPlace(target);
            }
            return fail(reason);
        }
        for (const auto& w : pending_) {
            if (!WritePrivateProfileStringW(w.section.c_str(), w.key.c_str(), w.value.c_str(),
                                            temp.c_str())) {
                const DWORD reason = GetLastError();
                DeleteFileW(temp.c_str());
                return fail(reason);
            }
        }
        // Flush the profile cache for the copy before it moves.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, temp.c_str());
        if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD reason = GetLastError();
            DeleteFileW(temp.c_str());
            return fail(reason);
        }
        pending_.clear();
        return true;
    }

private:
    bool fail(DWORD reason) {
        commitError_ = std::system_category().message(static_cast<int>(reason));
        return false;
    }

    bool writeInPlace(const std::wstring& target) {
        for (const auto& w : pending_) {
            if (!WritePrivateProfileStringW(w.section.c_str(), w.key.c_str(), w.value.c_str(),
                                            target.c_str())) {
                return fail(GetLastError());
            }
        }
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, target.c_str());
        pending_.clear();
        return true;
    }

    struct Write {
        std::wstring section, key, value;
    };

    std::filesystem::path file_;
    std::vector<Write> pending_;
    std::string commitError_;
};

}  // namespace

std::unique_ptr<ISettingsStore> OpenSettingsStore(const std::filesystem::path& file) {
    return std::make_unique<ProfileSettingsStore>(file);
}

}  // namespace brev
