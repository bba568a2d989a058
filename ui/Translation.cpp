#include "ui/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

#include "core/Message.h"

namespace tandem {
namespace {

Language g_language = Language::Japanese;
std::unique_ptr<QTranslator> g_program;
std::unique_ptr<QTranslator> g_qt;

void removeTranslators() {
    for (auto* slot : {&g_program, &g_qt}) {
        if (*slot) QCoreApplication::removeTranslator(slot->get());
        slot->reset();
    }
}

bool install(std::unique_ptr<QTranslator>& slot, const QString& name, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, folder)) return false;
    QCoreApplication::installTranslator(translator.get());
    slot = std::move(translator);
    return true;
}

}  // namespace

bool ParseLanguage(const QString& forced, const QLocale& locale, Language* language) {
    if (forced == "ja") {
        *language = Language::Japanese;
    } else if (forced == "en") {
        *language = Language::English;
    } else if (forced.isEmpty()) {
        *language = locale.language() == QLocale::Japanese ? Language::Japanese : Language::English;
    } else {
        return false;
    }
    return true;
}

bool InstallLanguage(Language language) {
    removeTranslators();
    g_language = language;
    SetMessageTranslator(language == Language::English ? MessageLanguage::English : MessageLanguage::Japanese,
                         EngineText);
    if (language == Language::English) return install(g_program, "tandem_en", ":/i18n");
    // Qt's texts are English by themselves; in Japanese they come from Qt's catalogue.
    return install(g_qt, "qt_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

Language CurrentLanguage() { return g_language; }

QString LevelName(int level) {
    switch (level) {
        case 0: return QCoreApplication::translate("tandem::Levels", "少");
        case 1: return QCoreApplication::translate("tandem::Levels", "普");
        case 2: return QCoreApplication::translate("tandem::Levels", "多");
        default: return QCoreApplication::translate("tandem::Levels", "BT");
    }
}

std::string EngineText(const char* japanese) { return QCoreApplication::translate("Engine", japanese).toStdString(); }

}  // namespace tandem
