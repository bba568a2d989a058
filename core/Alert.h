// Alerts: the fixed-text messages the engine raises ("Data may be broken.", the
// out-of-memory text, "Oh, my god!"). The engine never shows UI; a front end installs
// a handler (the GUI shows a modal box on its main thread and blocks the caller until
// it is dismissed; the command line prints to stderr).
//
// Thread safety: ShowAlert may be called from any thread; the handler runs on the
// calling thread and must do its own hand-over.
#pragma once

#include <functional>
#include <string>

namespace tandem {

void ShowAlert(const std::string& text);
// Replaces the handler; an empty function restores the default (stderr).
void SetAlertHandler(std::function<void(const std::string&)> handler);

}  // namespace tandem
