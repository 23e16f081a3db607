#include "app/Language.h"

#include "app/settings/SettingsFile.h"

namespace brev {

std::optional<Language> LanguageFromName(std::string_view name) {
    if (name == "zh") return Language::Chinese;
    if (name == "en") return Language::English;
    return std::nullopt;
}

std::optional<std::string> LanguageArgument(const std::vector<std::string>& arguments) {
    std::optional<std::string> value;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--lang") {
            value = i + 1 < arguments.size() ? arguments[++i] : std::string();
        } else if (arg.starts_with("--lang=")) {
            value = arg.substr(7);
        }
    }
    return value;
}

std::optional<Language> ChooseLanguage(const LanguageSources& sources, std::string& error) {
    if (const auto argument = LanguageArgument(sources.arguments)) {
        if (const auto chosen = LanguageFromName(*argument)) return chosen;
        error = "--lang '" + *argument + "': expected zh or en";
        return std::nullopt;
    }
    if (const auto configured = LanguageFromName(sources.setting)) return configured;
    return sources.systemChinese ? Language::Chinese : Language::English;
}

std::string ReadLanguageSetting(const std::filesystem::path& settingsFile) {
    const std::unique_ptr<ISettingsStore> store = OpenSettingsStore(settingsFile);
    return store ? store->ReadString(kSettingsSection, kLanguageKey, "") : std::string();
}

std::optional<Language> ChooseProcessLanguage(const std::vector<std::string>& arguments,
                                              const std::filesystem::path* settingsFile, std::string& error) {
    LanguageSources sources;
    sources.arguments = arguments;
    if (settingsFile != nullptr) sources.setting = ReadLanguageSetting(*settingsFile);
    sources.systemChinese = SystemLanguageIsChinese();
    return ChooseLanguage(sources, error);
}

bool LocaleIsChinese(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0') return std::string_view(value).starts_with("zh");
    }
    return false;
}

}  // namespace brev
