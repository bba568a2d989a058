#include "settings/SettingsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "core/AtomicFile.h"
#include "core/Message.h"
#include "core/Text.h"

namespace tandem::settings {

FolderLock::FolderLock(const std::string& folder)
    : fd_(folder.empty() ? -1 : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    int r = -1;
    while (fd_.get() >= 0 && (r = ::flock(fd_.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    held_ = fd_.get() >= 0 && r == 0;
}

// Reads the whole file and the stamp of exactly the version read.
ReadResult readWholeFile(const std::string& path, std::string& bytes, FileStamp& stamp, std::string& why) {
    bytes.clear();
    // Without blocking: a FIFO at the name would wait for a writer for ever.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            stamp = FileStamp{};
            return ReadResult::Missing;
        }
        why = MessageText(Msg::CannotRead, path, SystemErrorText(err));
        stamp = StampOf(path);
        return ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        why = MessageText(Msg::CannotRead, path, SystemErrorText(errno));
        return ReadResult::Failed;
    }
    stamp = FileStamp::Of(st);
    // Only a regular file is a settings file: a device (/dev/zero) would be read without
    // end, a directory or a FIFO never holds one.
    if (!S_ISREG(st.st_mode)) {
        why = MessageText(Msg::CannotRead, path,
                          S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : MessageText(Msg::NotRegularFile));
        return ReadResult::Failed;
    }
    if (st.st_size > kMaxSettingsBytes) {
        why = MessageText(Msg::CannotRead, path, MessageText(Msg::SettingsTooLarge, kMaxSettingsBytes));
        return ReadResult::Failed;
    }
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = MessageText(Msg::CannotRead, path, SystemErrorText(errno));
            bytes.clear();
            return ReadResult::Failed;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<off_t>(bytes.size()) > kMaxSettingsBytes) {
            // Grew while it was read.
            why = MessageText(Msg::CannotRead, path, MessageText(Msg::SettingsTooLarge, kMaxSettingsBytes));
            bytes.clear();
            return ReadResult::Failed;
        }
    }
    return ReadResult::Ok;
}

// Replaces path whole (AtomicFile), keeping the permissions of the file it replaces.
bool writeAtomically(const std::string& path, const std::string& bytes, bool createFolder, FileStamp& stamp,
                     std::string& why) {
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    // Replacing by rename would go through a read-only file; the user made it read-only
    // so that it stays as it is (even for root, who may write anything).
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        why = MessageText(Msg::CannotWrite, path, SystemErrorText(errno));
        return false;
    }
    if (exists && (old.st_mode & 0222) == 0) {
        why = MessageText(Msg::CannotWrite, path, MessageText(Msg::FileReadOnly));
        return false;
    }
    if (createFolder) {
        const std::string folder = FolderOf(path);
        std::error_code ec;
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    }
    AtomicFile file(path);
    if (exists) file.SetMode(old.st_mode & 07777);
    file.Write(bytes);
    struct stat st {};
    if (!file.Commit(&st)) {
        why = file.Problem();
        return false;
    }
    stamp = FileStamp::Of(st);
    return true;
}

}  // namespace tandem::settings
