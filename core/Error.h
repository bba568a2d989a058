// The one shape of an engine failure: an exception carrying a message id and its
// arguments (core/Message.h), already put into words in the front end's language.
//
// Rule: engine code that cannot go on throws an EngineError (or one of its kinds:
// SettingsError, WaveFileError, SyncError). The specified 0 results (no frames, no
// image, DataOffset 0) stay where callers test them, with the reason kept as a message
// text (KWavefile::Problem). The worker catches once per step of the job frame
// (KSyncThread) and shows the text on message line 2 and in the log; nothing leaves the
// worker. Front ends catch EngineError where they call the engine directly.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "core/Message.h"

namespace tandem {

class EngineError : public std::runtime_error {
public:
    template <class... Args>
    explicit EngineError(Msg id, const Args&... args) : EngineError(id, std::vector<std::string>{MessageArg(args)...}) {}
    EngineError(Msg id, std::vector<std::string> args)
        : std::runtime_error(FormatMessage(id, args)), id_(id), args_(std::move(args)) {}

    Msg id() const { return id_; }
    const std::vector<std::string>& args() const { return args_; }

private:
    Msg id_;
    std::vector<std::string> args_;
};

// The kinds, by the part of the engine that raises them; a front end may tell them apart
// but shows them all the same way.
class SettingsError : public EngineError {  // the settings store (settings/)
public:
    using EngineError::EngineError;
};
class WaveFileError : public EngineError {  // reading or writing a WAVE file (wave/, eq/)
public:
    using EngineError::EngineError;
};
// Failures that end the synchronisation proper (unreadable file, a report file that
// cannot be created, ...). The job frame catches it.
class SyncError : public EngineError {  // sync/
public:
    using EngineError::EngineError;
};

// The words of any failure: an EngineError's own, out of memory, or an unexpected
// exception's text.
std::string FailureText(const std::exception& e);

}  // namespace tandem
