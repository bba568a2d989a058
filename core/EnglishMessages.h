// The English texts of the engine's messages for a front end without Qt (tandem-cli):
// the build takes them from the "Engine" context of translations/tandem_en.ts, the same
// translation the desktop program loads.
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace tandem {

// The English of a Japanese text of the catalogue (core/Message.h); the text itself
// when the translation has none.
std::string EnglishMessageText(const char* japanese);

// Whether the translation has an English text for it.
bool HasEnglishMessageText(const char* japanese);

}  // namespace tandem
