// The job before its segment loop: the lead-ins in the master's frames, the files'
// checks, the coarse track, the master's division points and where the search starts;
// and the switch to the equalised copies the loop reads. Used by sync/Synchronise only.
//
// Thread safety: the job's own thread, as the search.
#pragma once

#include "core/Message.h"
#include "core/TimeBase.h"
#include "sync/CoarseTrack.h"
#include "sync/RobustStart.h"
#include "sync/StoredPoints.h"
#include "sync/Synchronise.h"

namespace tandem {

// What the lead-ins and the stop point come to in the master's frames. Lead-ins and
// the stop point come in 44.1 kHz frames (tenths x 4410); a resumed job's lead-ins are
// the stored pair itself, in the files' own frames.
struct LeadIns {
    FrameIndex masterSkip = 0, slaveSkip = 0, dpLimit = 0;
    int startRangeS = 0;  // the start search's half-width where a lead-in is set
};

// The master's division points, as stored, and what the loop starts from.
struct Division {
    int F0 = 0;           // stored pairs kept
    bool resume = false;  // the job goes on from stored pair F0 as it stands
    int number = 0;       // points in all
    FrameIndex step = 0;
    RobustStart robust;
};

// Where the search starts: master point F0 at slave frame N, with the rate expected.
struct SearchStart {
    FrameIndex N = 0;
    float rate = 100.0f;
    int rangeS = 0;  // the start search's half-width at the master's rate, frames
};

// Throws the given message where a file's data cannot be loaded.
void RequireData(KWavefile& file, Msg cannotLoad);
// Both files usable, at one rate, with their data loaded; throws SyncError otherwise.
void RequireUsable(SyncRun& run);
LeadIns LeadInsOf(const SyncRun& run, const TimeBase& time);
// The coarse track where the request asks for it (else an empty one), noted in the job.
CoarseTrack BuildJobTrack(SyncRun& run, const LeadIns& lead);
// Keeps the stored pairs before the master lead-in and divides the master after them.
Division DivideMaster(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                      const CoarseTrack& track, const LeadIns& lead, int rangeS, const TimeBase& time);
SearchStart FindSearchStart(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                            const CoarseTrack& track, const Division& d, const LeadIns& lead, int rangeS,
                            const TimeBase& time);
void UseEqualisedSources(SyncRun& run);

}  // namespace tandem
