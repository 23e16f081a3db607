// Which language the operator texts are shown in: --lang zh|en, else the settings key
// "language" (zh, en; empty or anything else follows the system), else the system's.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brev {

enum class Language { Chinese, English };

inline constexpr char kLanguageKey[] = "language";

struct LanguageSources {
    std::vector<std::string> arguments;  // the whole command line; "--lang X" or "--lang=X"
    std::string setting;                 // the settings key's value; empty when unset
    bool systemChinese = false;          // the system's user language is Chinese
};

// "zh" or "en"; nothing for any other name.
std::optional<Language> LanguageFromName(std::string_view name);

// The value of the last --lang on the command line; nothing when there is none.
std::optional<std::string> LanguageArgument(const std::vector<std::string>& arguments);

// The language to use; nothing, with `error` saying why, when --lang names no known language.
std::optional<Language> ChooseLanguage(const LanguageSources& sources, std::string& error);

// The key "language" of the settings file's section; empty when the file or key is missing.
std::string ReadLanguageSetting(const std::filesystem::path& settingsFile);

// ChooseLanguage over this process: `arguments`, the settings file when there is one, the system.
std::optional<Language> ChooseProcessLanguage(const std::vector<std::string>& arguments,
                                              const std::filesystem::path* settingsFile, std::string& error);

// POSIX locale rule: the first non-empty of LC_ALL, LC_MESSAGES, LANG decides; Chinese when it
// starts with "zh". Null stands for an unset variable.
bool LocaleIsChinese(const char* lcAll, const char* lcMessages, const char* lang);

// This system's user language is Chinese: the locale variables on Linux, the user's UI
// language on Windows.
bool SystemLanguageIsChinese();

}  // namespace brev
