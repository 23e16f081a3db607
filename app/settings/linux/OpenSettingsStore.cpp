#include "app/settings/SettingsStore.h"

namespace brev {

std::unique_ptr<ISettingsStore> OpenSettingsStore(const std::filesystem::path& file) {
    return std::make_unique<IniSettingsStore>(file);
}

}  // namespace brev
