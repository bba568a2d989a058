#include "core/Log.h"

#include <atomic>
#include <mutex>

#include "core/AtomicFile.h"

namespace tandem {
namespace {

struct LogState {
    std::atomic<bool> shown{false};
    std::mutex mutex;
    std::vector<std::string> lines;
    LogListener* listener = nullptr;
    std::function<void(const std::string&)> opener;
};

LogState& state() {
    static LogState s;
    return s;
}

}  // namespace

void AddLog(std::string_view text) {
    LogState& s = state();
    if (!s.shown.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(s.mutex);
    if (text.empty()) {
        s.lines.clear();
        if (s.listener) s.listener->LogCleared();
        return;
    }
    s.lines.emplace_back(text);
    if (s.listener) s.listener->LogLineAdded(s.lines.back());
}

void StartLog() {
    LogState& s = state();
    {
        std::lock_guard lock(s.mutex);
        s.shown.store(true);
        if (s.listener) s.listener->LogShown(true);
    }
    AddLog("");
}

void HideLog() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.shown.store(false);
    if (s.listener) s.listener->LogShown(false);
}

bool LogIsShown() { return state().shown.load(); }

std::vector<std::string> LogLines() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.lines;
}

bool SaveLogAndOpen(const std::string& path, std::string* why) {
    LogState& s = state();
    if (!s.shown.load()) return true;
    std::vector<std::string> lines = LogLines();
    bool ok = true;
    {
        AtomicFile out(path, MessageText(Msg::LogFile, path));
        for (const std::string& line : lines) {
            out.Write(line);
            out.Write("\r\n");
        }
        ok = out.Commit();
        if (!ok && why) *why = out.Problem();
    }
    HideLog();
    std::function<void(const std::string&)> opener;
    {
        std::lock_guard lock(s.mutex);
        opener = s.opener;
    }
    if (ok && opener) opener(path);
    return ok;
}

void SetLogListener(LogListener* listener) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.listener = listener;
}

void SetLogOpener(std::function<void(const std::string&)> opener) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.opener = std::move(opener);
}

}  // namespace tandem
