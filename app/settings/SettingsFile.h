// The operator's settings file (confile.inf, section "setting") and the read-only mode file
// (brevload_files/sys.inf, section "MODE").
#pragma once

#include <filesystem>
#include <string>

#include "app/settings/SettingsStore.h"
#include "ops/SharedSettings.h"

namespace brev {

inline constexpr char kSettingsFileName[] = "confile.inf";
inline constexpr char kSettingsSection[] = "setting";

// The values only the window uses.
struct WindowSettings {
    bool exFlash = false;
    std::string cs = "PB5";
    std::string clk = "PB6";
    std::string si = "PB7";
    std::string so = "PB8";
};

// autoDownload, resetSystemAfterDownload, skipUnchanged (any non-zero value is on), the five bus
// keys (low 8 bits kept) and downloadFile. skipUnchanged is never written: the window has no
// option for it, and a save keeps the key as the operator wrote it.
void LoadSharedSettings(ISettingsStore& store, SharedSettings& shared);
// exFlash (any non-zero value is on) and the four pin names.
WindowSettings LoadWindowSettings(ISettingsStore& store);
// Queue the writes, in the order autoDownload, resetSystemAfterDownload, downloadFile, clkDiv,
// lineMode, chipSelIndirect, chipSelDirect, chipType; then exFlash (0 or 1), cs, clk, si, so.
// False when a value cannot be stored (a line break in a path); the others are still queued.
bool StoreSharedSettings(ISettingsStore& store, const SharedSettings& shared);
bool StoreWindowSettings(ISettingsStore& store, const WindowSettings& window);

// Whole-file forms: a missing file gives the defaults; saving writes all thirteen keys and
// replaces the file in one step. False when any value or the file could not be written, with
// the system's reason in `error`.
void LoadSettings(const std::filesystem::path& file, SharedSettings& shared, WindowSettings& window);
// Why `file` cannot serve as a settings or mode file named by the operator, or "" when it can:
// a readable regular file of text in sections (an empty file stands for the defaults).
std::string SettingsFileProblem(const std::filesystem::path& file);
bool SaveSettings(const std::filesystem::path& file, const SharedSettings& shared,
                  const WindowSettings& window, std::string* error = nullptr);

// "pc_update_support" of section "MODE"; 0 when the file, section or key is missing.
int ReadPcUpdateSupport(const std::filesystem::path& modeFile);

}  // namespace brev
