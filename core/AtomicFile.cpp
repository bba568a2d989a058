#include "core/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

#include "core/ExitCleanup.h"
#include "core/Log.h"
#include "core/Text.h"

namespace tandem {
namespace {

constexpr std::size_t kBufferBytes = 1 << 16;
constexpr auto kLeftoverAge = std::chrono::hours(24);
// Room for ".tmp-<pid>-<n>-<random>" within a file name of NAME_MAX bytes.
constexpr std::size_t kSuffixRoom = 40;

// The temporary's name without its unique part: "<folder><name>.tmp", the name cut
// (at a character boundary) so that the whole stays a valid file name.
std::string temporaryStem(const std::string& target) {
    const std::string folder = FolderOf(target);
    std::string name = target.substr(folder.size());
    if (name.size() > NAME_MAX - kSuffixRoom) {
        std::size_t cut = NAME_MAX - kSuffixRoom;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return folder + name + ".tmp";
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    std::uint32_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
        random = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", random);
    return "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + hex;
}

// Once per target and process: a long job makes the same file again and again. Never
// destroyed: the settings store still writes while static objects go at exit.
bool firstTimeFor(const std::string& target) {
    struct Seen {
        std::mutex mutex;
        std::set<std::string> targets;
    };
    static Seen* const seen = new Seen;
    std::lock_guard lock(seen->mutex);
    return seen->targets.insert(target).second;
}

void syncFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

}  // namespace

AtomicFile::AtomicFile(std::string target, std::string what) : target_(std::move(target)), what_(std::move(what)) {
    if (what_.empty()) what_ = target_;
    if (firstTimeFor(target_)) RemoveLeftoverTemporaries(target_, kLeftoverAge);
    const std::string stem = temporaryStem(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = stem + uniqueSuffix();
        fd_.reset(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd_.valid() || errno != EEXIST) break;
    }
    if (!fd_.valid()) {
        const int error = errno;
        temp_.clear();
        fail(error);
        return;
    }
    // Marks the file as a live writer's: RemoveLeftoverTemporaries leaves it alone.
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    exitSlot_ = RegisterExitPath(temp_);
}

AtomicFile::~AtomicFile() {
    UnregisterExitPath(exitSlot_);
    if (committed_ || temp_.empty()) return;
    ::unlink(temp_.c_str());
    fd_.reset();
}

bool AtomicFile::fail(int error) {
    if (problem_.empty()) {
        reason_ = SystemErrorText(error);
        problem_ = MessageText(Msg::CannotWrite, what_, reason_);
    }
    return false;
}

// A large file's pages go to the disk while it is still being written, so that the sync
// before the rename finds little left to wait for. Write-back starts on what lies past the
// last start; a rewrite below it (a header) is left to that sync.
void AtomicFile::wrote(off_t offset, std::size_t bytes) {
    constexpr std::size_t kWriteBackBytes = 8u << 20;
    writtenTo_ = std::max(writtenTo_, offset + static_cast<off_t>(bytes));
    unflushed_ += bytes;
    if (unflushed_ < kWriteBackBytes || writtenTo_ <= startedTo_) return;
    unflushed_ = 0;
    // A hint: Commit's fsync reports the errors.
    ::sync_file_range(fd_.get(), startedTo_, writtenTo_ - startedTo_, SYNC_FILE_RANGE_WRITE);
    startedTo_ = writtenTo_;
}

bool AtomicFile::writeAll(const char* p, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_.get(), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? errno : ENOSPC);
        wrote(::lseek(fd_.get(), 0, SEEK_CUR) - n, static_cast<std::size_t>(n));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::flushBuffer() {
    if (!writeAll(buffer_.data(), buffer_.size())) return false;
    buffer_.clear();
    return true;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (!Ok() || committed_) return false;
    if (buffer_.size() + size > kBufferBytes && !flushBuffer()) return false;
    if (size >= kBufferBytes) return writeAll(static_cast<const char*>(data), size);
    buffer_.append(static_cast<const char*>(data), size);
    return true;
}

bool AtomicFile::WriteAt(const void* data, std::size_t size, off_t offset) {
    if (!Ok() || committed_ || !flushBuffer()) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_.get(), p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? errno : ENOSPC);
        p += n;
        size -= static_cast<std::size_t>(n);
        wrote(offset, static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

bool AtomicFile::SetMode(mode_t mode) {
    if (!Ok() || committed_) return false;
    return ::fchmod(fd_.get(), mode) == 0 || fail(errno);
}

bool AtomicFile::Sync() {
    if (!Ok() || committed_ || !flushBuffer()) return false;
    return ::fsync(fd_.get()) == 0 || fail(errno);
}

bool AtomicFile::Commit(struct stat* written) {
    if (!Ok() || committed_ || !flushBuffer()) return false;
    if (::fsync(fd_.get()) != 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) return fail(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return fail(errno);
    committed_ = true;
    UnregisterExitPath(exitSlot_);
    exitSlot_ = -1;
    syncFolder(target_);
    fd_.close();
    if (written) *written = st;
    return true;
}

std::string ResolveLinks(const std::string& path) {
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return path;
        const std::string next(link, static_cast<std::size_t>(n));
        at = next.front() == '/' ? next : FolderOf(at) + next;
    }
    return path;
}

void RemoveLeftoverTemporaries(const std::string& target, std::chrono::seconds minAge) {
    const std::string stem = temporaryStem(target);
    const std::string folder = FolderOf(stem);
    const std::string prefix = stem.substr(folder.size());
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Ours: "<prefix>-<pid>-..." and the "<prefix><pid>-<n>" of older versions.
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const char next = name[prefix.size()];
        if (next != '-' && (next < '0' || next > '9')) continue;
        const std::string path = folder + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || now - st.st_mtime < minAge.count()) continue;
        Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat held {};
        if (::fstat(fd.get(), &held) != 0 || held.st_dev != st.st_dev || held.st_ino != st.st_ino) continue;
        if (::unlink(path.c_str()) == 0) AddLog("removed " + path + ", left by a write that did not finish");
    }
    ::closedir(dir);
}

}  // namespace tandem
