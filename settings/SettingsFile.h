// The settings files on disk: the lock that keeps two processes' write-backs apart,
// and the whole-file read and atomic replacement that the store (Settings.cpp) uses.
//
// Thread safety: none of its own; the store calls these under its locks.
#pragma once

#include <sys/types.h>

#include <string>

#include "core/Fd.h"
#include "core/FileStamp.h"

namespace tandem::settings {

// An exclusive advisory lock on a folder, held while this process re-reads a settings
// file and renames its new version over it: another Tandem process doing the same in
// between would replace the file with a version that lacks this one's keys. No lock
// when the folder cannot be opened (the write then fails and says why).
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    bool held() const { return held_; }

private:
    Fd fd_;
    bool held_ = false;
};

enum class ReadResult { Ok, Missing, Failed };

// The largest settings file read. A job stores about 15 bytes per division point, so a
// 20-minute file's points take 18 kB; 64 MiB hold those of some 3,500 such files.
constexpr off_t kMaxSettingsBytes = off_t{64} << 20;

// Reads the whole file and the stamp of exactly the version read; why says what failed.
ReadResult readWholeFile(const std::string& path, std::string& bytes, FileStamp& stamp, std::string& why);

// Replaces path whole (AtomicFile), keeping the permissions of the file it replaces;
// createFolder makes its folder first.
bool writeAtomically(const std::string& path, const std::string& bytes, bool createFolder, FileStamp& stamp,
                     std::string& why);

}  // namespace tandem::settings
