// One job per pair of files at a time: two jobs on one pair would store their division
// points into the same settings sections and write the same synchronised file.
//
// The lock is an flock on "<program folder>.tandem-pair-<hash>.lock", the hash taken
// over the canonical paths of both files (in either order: the points of both files
// are stored). It never waits: a second job refuses at once. The lock file is removed
// when the lock is released, and by a second Ctrl-C (ExitCleanup); a killed job's lock
// goes with its process.
//
// Thread safety: one object per job; several jobs may try at once.
//
// The constructor throws SyncError when the lock is not taken: another job holds it, or
// the lock file cannot be made.
#pragma once

#include <string>

#include "core/Fd.h"

namespace tandem {

class PairLock {
public:
    PairLock(const std::string& master, const std::string& slave);
    ~PairLock();
    PairLock(const PairLock&) = delete;
    PairLock& operator=(const PairLock&) = delete;

private:
    std::string path_;
    Fd fd_;
    int exitSlot_ = -1;  // the lock file goes at an abrupt end too (ExitCleanup)
};

}  // namespace tandem
