// The operator texts in the chosen language, for both faces: the English catalog is compiled
// from lang/brevload_en.ts into the program's resources and read through a QTranslator.
#pragma once

#include <string>

#include "app/Language.h"

namespace brev {

// Context of every message in the catalog.
inline constexpr char kTranslationContext[] = "brevload";

// Installs the translator of ops/Texts.h for `language` (Chinese: the texts as written). Call
// once at start, before any job thread runs. False when the English catalog cannot be loaded;
// the texts then stay Chinese.
bool InstallLanguage(Language language);

// The English catalog's text for `source`; empty when it has none.
std::string EnglishTranslation(const char* source);

}  // namespace brev
