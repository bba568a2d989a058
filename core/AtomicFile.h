// The one way Tandem writes a file: a temporary beside the target, made new for this
// writer alone, then synced and renamed over the target.
//
// The temporary "<target>.tmp-<pid>-<n>-<random>" is created with O_CREAT | O_EXCL |
// O_NOFOLLOW, so nothing planted at its name (a link, a FIFO, another job's file) is
// opened, and it is flock'ed while it exists, so a live writer's file is never taken
// for a leftover. Commit renames it over the target: a link at the target's name is
// replaced, never written through (a caller that wants the link kept resolves it first
// with ResolveLinks). Without Commit the temporary is removed.
//
// Temporaries of the same target that are older than a day and that nobody holds
// (left by a killed process) are removed when a new one is made beside them.
//
// Failures are values: a call returns false once anything failed, later calls do
// nothing, Problem() says "cannot write <what>: <reason>" (Msg::CannotWrite) and
// Failure() is the same as an EngineError (or one of its kinds) to throw.
//
// Thread safety: one writer per thread; different writers may run at once, even on
// the same target (the last Commit wins, each file whole).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/Error.h"
#include "core/Fd.h"

namespace tandem {

class AtomicFile {
public:
    // what names the file in messages (default: the target's path).
    explicit AtomicFile(std::string target, std::string what = {});
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Ok() const { return problem_.empty(); }
    const std::string& Problem() const { return problem_; }
    template <class Error = EngineError>
    Error Failure() const {
        return Error(Msg::CannotWrite, what_, reason_);
    }
    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temp_; }

    // Appends (buffered).
    bool Write(const void* data, std::size_t size);
    bool Write(std::string_view text) { return Write(text.data(), text.size()); }
    // Writes at an offset of the file (unbuffered; appended data is written first).
    bool WriteAt(const void* data, std::size_t size, off_t offset);
    // Permission bits of the new file (created as 0666 less the umask).
    bool SetMode(mode_t mode);
    // Syncs the data to the disk, without putting the file in place; may run on another
    // thread than the writes, while nothing else is done with this writer.
    bool Sync();
    // Syncs and renames over the target. *written receives the new file's status.
    bool Commit(struct stat* written = nullptr);

private:
    bool fail(int error);
    bool writeAll(const char* data, std::size_t size);
    bool flushBuffer();
    void wrote(off_t offset, std::size_t bytes);

    std::string target_;
    std::string what_;
    std::string temp_;
    Fd fd_;
    std::string buffer_;
    std::string problem_;
    std::string reason_;
    bool committed_ = false;
    int exitSlot_ = -1;  // the temporary goes at an abrupt end too (ExitCleanup)
    // Bytes written since the last write-back was started; the end of what it covered, and
    // of what has been written.
    std::size_t unflushed_ = 0;
    off_t startedTo_ = 0, writtenTo_ = 0;
};

// Follows links at path's last component to the file they name (relative links from
// the link's folder); path itself when it is no link, or after 40 links (a loop).
std::string ResolveLinks(const std::string& path);

// Removes the temporaries of target that are at least minAge old and that no writer
// holds. AtomicFile does so with a day; a caller that serialises its writers by other
// means (a folder lock) may pass 0.
void RemoveLeftoverTemporaries(const std::string& target, std::chrono::seconds minAge);

}  // namespace tandem
