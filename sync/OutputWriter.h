// The synchronised file: "【master】-【slave】.wav" in the program folder, master mix
// left and resampled slave mix right (with the default mix), built segment by segment
// from the stored division points in a measuring pass (the loudest left sample, for
// the master's level) and a writing pass.
//
// The file is written beside its final name and renamed into place, so an existing
// result is only replaced by a complete new one (or, after a failure in the writing
// pass, by the valid WAVE file of the segments before it).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {

class TimeMap;

struct WriteResult {
    bool written = false;  // a file was put in place
    std::string file;      // its path
    std::string error;     // "" when nothing failed; not yet shown or logged
    FrameIndex frames = 0;
    FrameIndex searchedFrames = 0;  // frames up to the last point (the tail after it is extrapolated)
    int points = 0;        // stored division points ("Count" of the slave)
    // The band-limited map the slave was read along (master frames -> the slave's frames at
    // the master's rate, knots included); null for the linear writer.
    std::shared_ptr<const TimeMap> map;
};

// The output name for a job (debug mode adds the parameter suffix).
std::string SynchronisedFileName(const SyncJob& job, bool debugMode);

class KWavefile;

// Files a caller has already loaded: the writer takes over their images of the master
// and slave files instead of reading them again (either may be null).
struct LoadedFiles {
    KWavefile* master = nullptr;
    KWavefile* slave = nullptr;
    KWavefile* slaveImage = nullptr;  // the slave's working image at the master's rate (WorkingImage.h)
};

// What a caller does with the written file while its data go to the disk, before it is
// put in place: given the file's temporary path and the frames up to the last point
// (WriteResult::searchedFrames). Called only when the whole file was written.
using WhileSyncing = std::function<void(const std::string& written, FrameIndex searchedFrames)>;

WriteResult WriteSynchronisedFile(const SyncJob& job, const MixSettings& mix, SyncProgress& progress,
                                  LoadedFiles loaded = {}, const WhileSyncing& whileSyncing = {});

// Whether the front ends' jobs read the output's slave band-limited when the user did not
// choose: unless qzv.ini TandemEnv INTERPOLATION=linear asks for the whole-frame writer
// (the output as before, byte for byte). On music the band-limited slave is 20-45 dB
// cleaner and times as well or better on all but one evaluation case (a far microphone
// without lead-ins: two windows in 356); it costs 1.15-1.23 times the job.
bool BandLimitedByDefault();

// The slave alone on the master's timeline: "<slave>【<master>】.wav" (the base names
// without extension) in the program folder, so that it sorts beside the slave. Frame m is
// master frame m, for exactly the master's length; the slave's own channels (a mono
// slave stays mono, of more than two the first two) in its own sample format at the
// master's rate, read band-limited along the points' map; silence where the slave has
// no material. Written like the synchronised file, through one atomic replacement.
// synchronised: what the synchronised file's writer returned; where both files have one
// rate its map is read again rather than measured again.
std::string SlaveOnMasterFileName(const SyncJob& job);
WriteResult WriteSlaveOnMaster(const SyncJob& job, SyncProgress& progress, const WriteResult& synchronised);

}  // namespace tandem
