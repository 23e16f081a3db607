#include "app/settings/SettingsFile.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/settings/IniFile.h"
#include "base/FileChecks.h"

namespace brev {
namespace {

uint8_t LowByte(int value) { return static_cast<uint8_t>(static_cast<unsigned>(value) & 0xFFu); }

bool WriteInt(ISettingsStore& store, const char* key, int value) {
    return store.WriteString(kSettingsSection, key, std::to_string(value));
}

}  // namespace

void LoadSharedSettings(ISettingsStore& store, SharedSettings& shared) {
    shared.autoDownloadFlag = store.ReadInt(kSettingsSection, "autoDownload", 0);
    shared.resetAfterDownloadFlag = store.ReadInt(kSettingsSection, "resetSystemAfterDownload", 0);
    shared.skipUnchanged = store.ReadInt(kSettingsSection, "skipUnchanged", 0) != 0 ? 1 : 0;
    shared.busClkDiv = LowByte(store.ReadInt(kSettingsSection, "clkDiv", 0));
    shared.busLineMode = LowByte(store.ReadInt(kSettingsSection, "lineMode", 0));
    shared.busChipSelIndirect = LowByte(store.ReadInt(kSettingsSection, "chipSelIndirect", 0));
    shared.busChipSelDirect = LowByte(store.ReadInt(kSettingsSection, "chipSelDirect", 0));
    shared.busChipType = LowByte(store.ReadInt(kSettingsSection, "chipType", 0));
    shared.setDownloadFilePath(store.ReadString(kSettingsSection, "downloadFile", ""));
}

WindowSettings LoadWindowSettings(ISettingsStore& store) {
    const WindowSettings defaults;
    WindowSettings window;
    window.exFlash = store.ReadInt(kSettingsSection, "exFlash", 0) != 0;
    window.cs = store.ReadString(kSettingsSection, "cs", defaults.cs);
    window.clk = store.ReadString(kSettingsSection, "clk", defaults.clk);
    window.si = store.ReadString(kSettingsSection, "si", defaults.si);
    window.so = store.ReadString(kSettingsSection, "so", defaults.so);
    return window;
}

bool StoreSharedSettings(ISettingsStore& store, const SharedSettings& shared) {
    bool ok = WriteInt(store, "autoDownload", shared.autoDownloadFlag.load());
    ok &= WriteInt(store, "resetSystemAfterDownload", shared.resetAfterDownloadFlag.load());
    ok &= store.WriteString(kSettingsSection, "downloadFile", shared.downloadFilePath());
    ok &= WriteInt(store, "clkDiv", shared.busClkDiv.load());
    ok &= WriteInt(store, "lineMode", shared.busLineMode.load());
    ok &= WriteInt(store, "chipSelIndirect", shared.busChipSelIndirect.load());
    ok &= WriteInt(store, "chipSelDirect", shared.busChipSelDirect.load());
    ok &= WriteInt(store, "chipType", shared.busChipType.load());
    return ok;
}

bool StoreWindowSettings(ISettingsStore& store, const WindowSettings& window) {
    bool ok = WriteInt(store, "exFlash", window.exFlash ? 1 : 0);
    ok &= store.WriteString(kSettingsSection, "cs", window.cs);
    ok &= store.WriteString(kSettingsSection, "clk", window.clk);
    ok &= store.WriteString(kSettingsSection, "si", window.si);
    ok &= store.WriteString(kSettingsSection, "so", window.so);
    return ok;
}

void LoadSettings(const std::filesystem::path& file, SharedSettings& shared, WindowSettings& window) {
    const auto store = OpenSettingsStore(file);
    LoadSharedSettings(*store, shared);
    window = LoadWindowSettings(*store);
}

bool SaveSettings(const std::filesystem::path& file, const SharedSettings& shared,
                  const WindowSettings& window, std::string* error) {
    const auto store = OpenSettingsStore(file);
    bool stored = StoreSharedSettings(*store, shared);
    stored &= StoreWindowSettings(*store, window);
    const bool committed = store->Commit();
    if (error) {
        if (!committed) {
            *error = store->commitError();
        } else if (!stored) {
            *error = std::make_error_code(std::errc::invalid_argument).message();
        } else {
            error->clear();
        }
    }
    return stored && committed;
}

std::string SettingsFileProblem(const std::filesystem::path& file) {
    if (std::string problem = InputFileProblem(file, /*emptyOk=*/true); !problem.empty()) return problem;
    // Read to the end rather than by the size found: files under /proc tell a size of 0.
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return "the file cannot be read";
    const std::string bytes = text.str();
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return {};
    const bool utf16 = bytes.starts_with("\xFF\xFE");
    if (!utf16 && bytes.find('\0') != std::string::npos) return "binary data, not a settings file";
    if (!IniFile::Parse(bytes).HasSection()) return "no [section] in it, not a settings file";
    return {};
}

int ReadPcUpdateSupport(const std::filesystem::path& modeFile) {
    return OpenSettingsStore(modeFile)->ReadInt("MODE", "pc_update_support", 0);
}

}  // namespace brev
