// Everything a synchronisation job is started with. The Start button, `tandem-cli sync`,
// the tests and the benchmark fill one JobRequest each and hand it to KSyncThread, which
// keeps it to the end of the job: the search and the writer read their parameters from
// it (the job record SyncJob holds the same under its own names for the output's name,
// and the job's runtime state). A new job parameter is added here and in the places
// that fill it.
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
    // Lead-ins and the stop point in 44.1 kHz frames (tenths x 4410, as the window and
    // the command line count them); the search takes them as times at the master's rate.
    FrameIndex masterSkipFrames = 0;
    FrameIndex slaveSkipFrames = 0;
    int rangeS = 800;                // start point search half-width, 44.1 kHz frames
    int rangeE = 300;                // segment length half-width, 44.1 kHz frames
    FrameIndex stopPointFrames = 0;  // 0 = none
    int eqLow = 0;              // Hz, 0 = no edge
    int eqHigh = 0;
    int channelFlag = 0;        // 1: a mono file goes to the left channel only
    int mode = kModeSingle;
    int level = -1;             // 相異点 0..3, recorded with the points it finds; -1 unknown
    int options = 0;            // option word (kOpt...), published through SyncProgress
    // The checks beyond the plain search; qzv.ini TandemEnv ROBUST_START=0,
    // ANCHOR_ENDS=0, LOCK_GUARD=0, COARSE_TRACK=0 and NARROW_SEARCH=0 switch them off as well (the job
    // applies them when it starts).
    // A start point by correlation when the onsets disagree (fresh jobs only).
    bool robustStart = true;
    // Re-anchored ends of segments longer than two division steps.
    bool anchorEnds = true;
    // Every segment end judged against the recent points' line and correlation, searched
    // again or held where the chain lost the material (without a coarse track only).
    bool lockGuard = true;
    // A whole-file track on whitened correlation first; the segment search follows it.
    bool coarseTrack = true;
    // Where the track is sure, segments searched only within its uncertainty (the full
    // range where the winner lands at the window's edge).
    bool narrowSearch = true;
    // Go on from the last stored pair of points as it stands, without a new start point
    // search, at resumeMasterFrame and resumeSlaveFrame (frames of each file at its own
    // rate). Set by ResumeAtLastStoredPair.
    bool resume = false;
    FrameIndex resumeMasterFrame = 0;
    FrameIndex resumeSlaveFrame = 0;
    bool lowPriority = false;   // the worker runs at nice 19
    // The output's slave band-limited (false: linear, as before), and the slave alone on
    // the master's timeline as a second file.
    bool bandLimited = true;
    bool slaveOut = false;
};

// The division interval, ranges, band, mode and placement of a 相異点 level.
void ApplyLevel(JobRequest& request, const JobParameters& level);

// Points the request at the last pair of division points stored for its files, so
// that the job ends with the points of an uninterrupted run: resume frames := that
// pair, resume := true. Nothing to resume (fewer than two stored pairs, none past the
// master lead-in, or points of another pair or division): the request is left as it
// is, resume false. Returns what it did, as a line for the user.
std::string ResumeAtLastStoredPair(JobRequest& request);

// The job record of a request: its parameters under the record's names (a resumed job's
// lead-ins are the resume frames). The stop request and the runtime state are left alone.
void SetJobRecord(SyncJob& job, const JobRequest& request);

// True when next is the part of the same recording that begins where previous was
// told to stop (a batch of one recording registered with growing master lead-ins).
bool ContinuesPart(const JobRequest& previous, const JobRequest& next);

}  // namespace tandem
