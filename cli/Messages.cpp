#include "cli/Messages.h"

#include <clocale>
#include <filesystem>
#include <string_view>

#include "core/EnglishMessages.h"
#include "core/Message.h"
#include "core/ProgramFolder.h"

#ifndef TANDEM_LOCALE_DIR
#define TANDEM_LOCALE_DIR "/usr/local/share/locale"
#endif

namespace tandem::cli {

void InitMessages() {
    // Messages only: numbers in reports and CSV files stay as they are in every locale.
    std::setlocale(LC_MESSAGES, "");
    // A catalogue beside the executable (the build) comes before the installed one.
    const std::string beside = ExecutableFolder() + "locale";
    std::error_code ec;
    bindtextdomain("tandem-cli", std::filesystem::is_directory(beside, ec) ? beside.c_str() : TANDEM_LOCALE_DIR);
    bind_textdomain_codeset("tandem-cli", "UTF-8");
    // The engine's messages speak the language gettext chose for ours: Japanese (their
    // source) exactly when the Japanese catalogue is in use.
    if (Japanese()) {
        SetMessageTranslator(MessageLanguage::Japanese, nullptr);
    } else {
        SetMessageTranslator(MessageLanguage::English, EnglishMessageText);
    }
}

bool Japanese() {
    // Translated only in the Japanese catalogue.
    return std::string_view(_("English")) != "English";
}

}  // namespace tandem::cli
