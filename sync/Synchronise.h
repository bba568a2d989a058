// The synchronisation proper: divides the master at division points, finds the start
// point, then the matching slave position of every division point segment by segment,
// and stores both point lists in the settings store (section = each file's path, keys
// "Count" and "DP<n>", and the slave's "PhaseShift"). A later job resumes after the
// points that are still valid.
//
// Throws SyncError (or SettingsError) for failures that end it; the points stored up to
// then stay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Scales master frames to the slave's level (x * slaveAverage / masterAverage, truncated;
// unchanged where masterAverage is not positive). Saturates: keeping the low 16 bits
// scrambles loud passages when the slave is denser.
// A 16-bit sample takes one of 65,536 values: each one's result is worked out once and
// looked up for the job's every segment (a vector division per sample was a
// twentieth of the search's own thread).
class LevelMatch {
public:
    LevelMatch(int slaveAverage, int masterAverage);
    bool Scales(int slaveAverage, int masterAverage) const { return slave_ == slaveAverage && master_ == masterAverage; }
    void Apply(std::vector<Frame>& frames) const;

private:
    int slave_, master_;
    std::vector<std::int16_t> table_;  // by sample + 32768
};
void MatchLevel(std::vector<Frame>& frames, int slaveAverage, int masterAverage);

// Frames at rate -> "h H m M s S ms ms" of the end point log line.
std::string EndPointText(FrameIndex frames, std::uint32_t rate = kSampleRate);

}  // namespace tandem
