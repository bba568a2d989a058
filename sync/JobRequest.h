// Everything a synchronisation job is started with. The Start button and
// `tandem-cli sync` fill one JobRequest each and hand it to KSyncThread; a new job
// parameter is added here and in the two places that fill it.
//
// Thread safety: a plain value; ResumeAtLastStoredPair reads the settings store, which
// any thread may do.
#pragma once

#include <string>

#include "sync/JobPresets.h"
#include "sync/SyncJob.h"

namespace tandem {

struct JobRequest {
    std::string master;
    std::string slave;
    int baseStep = 2;           // division interval, 0.1 s
    FrameIndex masterSkip = 0;  // lead-ins, frames
    FrameIndex slaveSkip = 0;
    int rangeS = 800;           // frames
    int rangeE = 300;           // frames
    FrameIndex dpLimit = 0;     // stop point, frames; 0 = none
    int eqLow = 0;              // Hz, 0 = no edge
    int eqHigh = 0;
    int channelFlag = 0;        // 1: a mono file goes to the left channel only
    int mode = kModeSingle;
    int level = -1;             // 相異点 0..3, recorded with the points it finds; -1 unknown
    int options = 0;            // option word (kOpt...), published through SyncProgress
    // The checks beyond the plain search; qzv.ini TandemEnv ROBUST_START=0,
    // ANCHOR_ENDS=0, LOCK_GUARD=0 and COARSE_TRACK=0 switch them off as well.
    bool robustStart = true;
    bool anchorEnds = true;
    bool lockGuard = true;
    // The output's slave band-limited (false: linear, as before), and the slave alone on
    // the master's timeline as a second file.
    bool bandLimited = true;
    bool slaveOut = false;
    bool coarseTrack = true;
    // Go on from the last stored pair of points as it stands, without a new start point
    // search. Set by ResumeAtLastStoredPair together with the lead-ins of that pair.
    bool resume = false;
    bool lowPriority = false;   // the worker runs at nice 19
};

// The division interval, ranges, band, mode and placement of a 相異点 level.
void ApplyLevel(JobRequest& request, const JobParameters& level);

// Points the request at the last pair of division points stored for its files, so
// that the job ends with the points of an uninterrupted run: lead-ins := that pair,
// resume := true. Nothing to resume (fewer than two stored pairs, none past the master
// lead-in, or points of another pair or division): the request is left as it is,
// resume false. Returns what it did, as
// a line for the user.
std::string ResumeAtLastStoredPair(JobRequest& request);

// True when next is the part of the same recording that begins where previous was
// told to stop (a batch of one recording registered with growing master lead-ins).
bool ContinuesPart(const JobRequest& previous, const JobRequest& next);

}  // namespace tandem
