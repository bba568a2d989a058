// The debug log: one process-wide list of trace lines.
//
// Lines are recorded only while the log is shown (StartLog .. SaveLogAndOpen/HideLog);
// otherwise AddLog returns after one atomic load. A front end attaches a LogListener
// to mirror the lines (the GUI's debug window) and an opener to open a saved file.
//
// Thread safety: AddLog may be called from any thread; a line is appended whole and
// lines of one thread keep their order. StartLog, HideLog and SaveLogAndOpen belong
// to the front end's main thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tandem {

class LogListener {
public:
    virtual ~LogListener() = default;
    // Called with the log's lock held, on the thread that added the line: keep it short
    // and never call back into the log.
    virtual void LogLineAdded(const std::string& line) = 0;
    virtual void LogCleared() = 0;
    virtual void LogShown(bool shown) = 0;
};

// Appends text as a line while the log is shown; an empty text clears the list.
void AddLog(std::string_view text);
// Shows the log (recording from now on) and clears it.
void StartLog();
// Stops recording; the lines stay until the next StartLog.
void HideLog();
bool LogIsShown();
std::vector<std::string> LogLines();

// When shown: writes every line followed by CR LF to path (a new file renamed over it:
// a link at path is replaced, not written through), hides the log
// and hands path to the opener. Returns false with *why set when the file could not be
// written (the log is hidden all the same); does nothing and returns true when hidden.
bool SaveLogAndOpen(const std::string& path, std::string* why = nullptr);

void SetLogListener(LogListener* listener);
void SetLogOpener(std::function<void(const std::string& path)> opener);

}  // namespace tandem
