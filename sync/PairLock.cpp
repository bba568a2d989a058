#include "sync/PairLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/Error.h"
#include "core/ExitCleanup.h"
#include "core/Message.h"
#include "core/ProgramFolder.h"
#include "core/Text.h"

namespace tandem {
namespace {

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

PairLock::PairLock(const std::string& master, const std::string& slave) {
    std::string a = canonical(master), b = canonical(slave);
    if (b < a) std::swap(a, b);
    path_ = ProgramFolder() + ".tandem-pair-" + HashName(a + '\n' + b) + ".lock";
    // The holder removes the file before it lets go: a lock taken on a file that is no
    // longer at the name is no lock, so try again on the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        Fd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.valid()) {
            throw SyncError(Msg::CannotMakeJobLock, path_, SystemErrorText(errno));
        }
        int r;
        while ((r = ::flock(fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (r != 0) {
            if (errno == EWOULDBLOCK) throw SyncError(Msg::PairBusy, master, slave);
            throw SyncError(Msg::CannotTakeJobLock, path_, SystemErrorText(errno));
        }
        struct stat held {}, named {};
        if (::fstat(fd.get(), &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd_ = std::move(fd);
            exitSlot_ = RegisterExitPath(path_);
            return;
        }
    }
    throw SyncError(Msg::JobLockReplaced, path_);
}

PairLock::~PairLock() {
    UnregisterExitPath(exitSlot_);
    if (fd_.valid()) ::unlink(path_.c_str());
}

}  // namespace tandem
