// The window's language. Japanese is the source language of every text; English comes
// from tandem_en.qm, compiled from translations/tandem_en.ts by the build and carried in
// the program's resources. Qt's own texts (file dialog, message box buttons) follow the
// same choice.
//
// Thread safety: main thread only, except EngineText (called by the engine on its
// worker), which only reads the installed translators.
#pragma once

#include <QString>

#include <string>

class QLocale;

namespace tandem {

enum class Language { Japanese, English };

// "ja" or "en" forces the language; "" picks Japanese for a Japanese locale and English
// for every other. Returns false for any other text.
bool ParseLanguage(const QString& forced, const QLocale& locale, Language* language);

// Installs the translators of a language (replacing those of an earlier call). Returns
// false when a translation that should exist could not be loaded; the texts then stay
// in Japanese (the program's) or in English (Qt's).
bool InstallLanguage(Language language);
Language CurrentLanguage();

// The 相異点 levels 0..3 (少 普 多 BT) as the windows show them; any other value is BT.
QString LevelName(int level);

// The one place where the window translates the engine's messages (core/Message.h):
// a Japanese text of the engine's catalogue in the window's language, from the
// "Engine" context of tandem_en.qm. InstallLanguage makes the engine use it, so every
// engine message (errors, progress lines, alerts, notices) arrives in words.
std::string EngineText(const char* japanese);

}  // namespace tandem
