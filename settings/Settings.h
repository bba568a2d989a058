// The settings store: integers and texts by section and key, kept in qzv.ini (INI
// format) or in the per-user file ~/.config/tandem/registry.ini (the "registry").
//
// Which file serves a call is decided by UsesIniFile on the section as the caller gave
// it; on the INI side MapSettingPaths stores paths relative to SrcDir / WorkDir and
// escapes '[', ']' and '%' in section names (%5B, %5D, %25). A per-file section that an
// older version stored with its brackets removed keeps serving the file while the
// escaped one does not exist and no file exists at the name without brackets.
//
// Both files are held parsed in memory. Writes change the copy at once and reach the
// disk atomically (temporary file + rename) within 250 ms, or at SettingsFlush. Before
// a read, a file that changed on disk (another process) is re-read; a write-back applies
// only the keys this process changed on top of the file's current content.
//
// Failures:
//  - a section, key or value holding a line break or NUL is refused: the write throws
//    SettingsError and nothing is stored;
//  - a stored integer that is not a decimal number reads as the default (logged);
//  - a missing or unreadable file reads as empty; a settings file that is not a regular
//    file (a FIFO, a device, a directory) or holds more than 64 MiB is unreadable;
//  - a file that cannot be written is reported by SettingsFlush (false + reason) and
//    once through ShowAlert from the background write-back.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/Error.h"

namespace tandem {

// name starting with '/': it is the INI file. Otherwise name is a section of the
// per-user file that holds WorkDir, SrcDir and IniDir (the INI file is IniDir or
// WorkDir followed by "qzv.ini"). Always returns true.
bool SettingsOpen(const std::string& name);

int SettingsReadInt(const std::string& section, const std::string& key, int defaultValue);
std::string SettingsReadText(const std::string& section, const std::string& key,
                             const std::string& defaultValue);
// The integers of several keys of one section, each as SettingsReadInt gives it, and
// the texts, each as SettingsReadText with the default "" gives it, from one look at
// the file (a job's thousands of points each stat'ed it).
std::vector<int> SettingsReadInts(const std::string& section, const std::vector<std::string>& keys, int defaultValue);
std::vector<std::string> SettingsReadTexts(const std::string& section, const std::vector<std::string>& keys);
// How many distinct keys the section holds: what bounds a count stored in it.
int SettingsKeyCount(const std::string& section);
void SettingsWriteInt(const std::string& section, const std::string& key, int value);
void SettingsWriteText(const std::string& section, const std::string& key, const std::string& value);

// Writes pending changes now. Returns false and sets *why when a file could not be
// written (the changes stay pending and are tried again).
bool SettingsFlush(std::string* why = nullptr);

// Reads the INI file now. false (and *why) when it exists but cannot be read: a job
// would otherwise run to its end and only then fail to store its results.
bool SettingsReadable(std::string* why = nullptr);

// One read-modify-write against other processes: runs change() (which may call the
// functions above) under the folder lock of the file that serves section, on that
// file's current content, and writes the changes before the lock is released. Returns
// false and sets *why when the write failed (the changes stay pending). Exceptions from
// change() pass through; what it wrote is then written later.
bool SettingsUpdate(const std::string& section, const std::function<void()>& change, std::string* why = nullptr);

bool UsesIniFile(const std::string& section);
void MapSettingPaths(std::string& section, std::string& key, std::string& value);

// SrcDir is changed by the main window while a job may be reading it.
void SetSettingsSrcDir(const std::string& dir);
std::string SettingsSrcDir();
std::string SettingsWorkDir();
std::string SettingsIniPath();

// Back to the closed state (tests): flushes, then forgets both files and all paths.
void SettingsReset();

}  // namespace tandem
