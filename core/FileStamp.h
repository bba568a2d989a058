// The one stamp of a file's version on disk: which file (device, inode), its size and
// its modification time to the nanosecond. A different stamp means "read it again";
// the job, the settings store, the equalised copies and the level cache all ask it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace tandem {

struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t seconds = 0;  // modification time
    std::int64_t nanoseconds = 0;

    static FileStamp Of(const struct stat& st) {
        return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    std::int64_t modifiedNs() const { return seconds * 1000000000 + nanoseconds; }
    // The same size and modification time: what a record kept apart from the file (a copy's
    // record of its source) can tell.
    bool sameVersion(const FileStamp& o) const {
        return size == o.size && seconds == o.seconds && nanoseconds == o.nanoseconds;
    }
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at path (followed through links); exists false when it cannot
// be read.
inline FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return FileStamp::Of(st);
}

}  // namespace tandem
