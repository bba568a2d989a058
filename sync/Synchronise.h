// The synchronisation proper: divides the master at division points, finds the start
// point, then the matching slave position of every division point segment by segment,
// and stores both point lists in the settings store (section = each file's path, keys
// "Count" and "DP<n>", and the slave's "PhaseShift"). A later job resumes after the
// points that are still valid.
//
// Throws SyncError (or SettingsError) for failures that end it; the points stored up to
// then stay.
#pragma once

#include <string>

#include "sync/PatternSearch.h"

namespace tandem {

struct SyncRun {
    SyncJob& job;
    KWavefile& master;
    KWavefile& slave;
    std::string masterEqCopy;  // "" when not equalised
    std::string slaveEqCopy;
    int mode = kModeSingle;
    SyncProgress& progress;
};

void SynchroniseFiles(SyncRun& run);

// Why a job cannot pair these two usable files ("" when it can). The one place where a
// job refuses a pair for its formats: the search and the writer both ask here.
std::string PairFormatProblem(const KWavefile& master, const KWavefile& slave);

// Scales master frames to the slave's level (x * slaveAverage / masterAverage).
// Saturates: keeping the low 16 bits scrambles loud passages when the slave is denser.
void MatchLevel(std::vector<Frame>& frames, int slaveAverage, int masterAverage);

// Frames -> "h H m M s S ms ms" of the end point log line.
std::string EndPointText(FrameIndex frames);

}  // namespace tandem
