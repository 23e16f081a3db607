#include "app/lang/Translation.h"

#include <QString>
#include <QTranslator>

#include "ops/Texts.h"

// The catalog is compiled into this static library; registering it here keeps the linker from
// dropping it from the program.
static void InitTranslationResources() { Q_INIT_RESOURCE(brevload_translations); }

namespace brev {
namespace {

// Loaded once; after that QTranslator::translate only reads, so job threads may call it.
const QTranslator* EnglishCatalog() {
    static const QTranslator* const catalog = [] {
        InitTranslationResources();
        auto* translator = new QTranslator;
        if (!translator->load(QStringLiteral(":/i18n/brevload_en.qm"))) {
            delete translator;
            return static_cast<QTranslator*>(nullptr);
        }
        return translator;
    }();
    return catalog;
}

std::string ToEnglish(const char* source) {
    std::string english = EnglishTranslation(source);
    return english.empty() ? std::string(source) : english;
}

}  // namespace

std::string EnglishTranslation(const char* source) {
    const QTranslator* catalog = EnglishCatalog();
    if (catalog == nullptr) return {};
    return catalog->translate(kTranslationContext, source).toStdString();
}

bool InstallLanguage(Language language) {
    if (language == Language::Chinese) {
        text::SetTranslator(nullptr);
        return true;
    }
    if (EnglishCatalog() == nullptr) {
        text::SetTranslator(nullptr);
        return false;
    }
    text::SetTranslator(&ToEnglish);
    return true;
}

}  // namespace brev
