#include "cli/Messages.h"

#include <clocale>
#include <filesystem>

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
}

}  // namespace tandem::cli
