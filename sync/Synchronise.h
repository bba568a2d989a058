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

#include "core/BigBuffer.h"
#include "sync/JobRequest.h"
#include "sync/PatternSearch.h"

namespace tandem {

struct SyncRun {
    SyncJob& job;               // the stop request, and the runtime state the search leaves
    const JobRequest& request;  // the parameters (with the settings' switches applied)
    KWavefile& master;
    KWavefile& slave;
    std::string masterEqCopy;  // "" when not equalised
    std::string slaveEqCopy;
    SyncProgress& progress;
    // The slave file's own rate when `slave` is its working image at the master's rate
    // (0: slave is the file itself). Points and report rows are stored in its own frames.
    std::uint32_t slaveFileRate = 0;
    // With a working image: its equalised copy at the master's rate (a WAVE file in
    // memory that stands for slaveEqCopy); empty otherwise.
    ByteImage slaveEqImage;
};

void SynchroniseFiles(SyncRun& run);

// Scales master frames to the slave's level (x * slaveAverage / masterAverage).
// Saturates: keeping the low 16 bits scrambles loud passages when the slave is denser.
void MatchLevel(std::vector<Frame>& frames, int slaveAverage, int masterAverage);

// Frames at rate -> "h H m M s S ms ms" of the end point log line.
std::string EndPointText(FrameIndex frames, std::uint32_t rate = kSampleRate);

}  // namespace tandem
