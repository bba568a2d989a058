// The command line's own texts: English, or Japanese under a Japanese locale (LANG,
// LC_ALL, LC_MESSAGES or LANGUAGE), through gettext. The Japanese catalogue
// translations/tandem-cli_ja.po is compiled by the build into locale/ beside the
// executable (and installed under share/locale). Numbers keep the C locale's format.
//
// Thread safety: InitMessages once at the start of main; _ from any thread after it.
#pragma once

#include <libintl.h>

namespace tandem::cli {

// Chooses the catalogue from the environment's locale, and the same language for the
// engine's messages.
void InitMessages();
// Whether the texts are Japanese.
bool Japanese();

// The translation of an English text (the text itself when there is none).
inline const char* _(const char* english) { return dgettext("tandem-cli", english); }

}  // namespace tandem::cli

// Marks a text for the catalogue where it cannot be translated yet (static data).
#define N_(text) text
