// The job record shared by a front end and the worker, the mix settings and the
// option bits.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "core/Types.h"
#include "sync/LockGuard.h"

namespace tandem {

// Volume (percent) and pan (-90 left .. +90 right) of Master-L, Master-R, Slave-L,
// Slave-R, as (volume, pan) pairs.
using MixSettings = std::array<int, 8>;
// What a synchronisation job writes: master (both channels) left, slave right.
constexpr MixSettings kDefaultMix{100, -90, 100, -90, 100, 90, 100, 90};

// Option word bits.
constexpr int kOptDebug = 1;
constexpr int kOptResultCsv = 2;
constexpr int kOptStartCsv = 4;
constexpr int kOptSegmentCsv = 8;
constexpr int kOptKeepEq = 16;

// Search modes: units digit = initial look-ahead, tens digit = largest look-ahead.
constexpr int kModeSingle = 11;
constexpr int kModeRetry = 21;
constexpr int kModeLookAhead = 66;

// StopRequest values.
constexpr int kStopByUser = 1;
constexpr int kStopAtPoint = 2;

struct SyncJob {
    std::string MasterFile;
    std::string SlaveFile;
    int BaseStep = 0;         // division interval, 0.1 s units
    FrameIndex MasterSkip = 0;  // frames
    FrameIndex SlaveSkip = 0;   // frames
    int RangeS = 0;           // offset half-width at the start point, frames
    int RangeE = 0;           // length half-width at every division point, frames
    FrameIndex DpLimit = 0;   // stop point, frames; 0 = none
    int EqLow = 0;            // Hz, 0 = no lower edge
    int EqHigh = 0;           // Hz, 0 = no upper edge
    // Checks beyond the plain search (qzv.ini TandemEnv ROBUST_START / ANCHOR_ENDS):
    // a start point by correlation when the onsets disagree (fresh jobs only), and
    // re-anchored ends of segments longer than two division steps.
    bool RobustStart = true;
    bool AnchorEnds = true;
    // From the job's request: go on from the last stored pair of points before the
    // master lead-in as it stands, without a new start point search.
    bool Resume = false;
    // qzv.ini TandemEnv LOCK_GUARD: every segment end judged against the recent points'
    // line and correlation, searched again or held where the chain lost the material.
    bool LockGuard = true;
    // The output's slave read band-limited along a smooth map through the sub-frame
    // points; false (--interpolation linear, qzv.ini TandemEnv INTERPOLATION=linear):
    // linearly between whole-frame points, as before.
    bool BandLimited = true;
    // Also write the slave alone on the master's timeline (SlaveOnMasterFileName).
    bool SlaveOut = false;
    // qzv.ini TandemEnv COARSE_TRACK: a whole-file track on whitened correlation first;
    // the segment search follows it, and the lock guard's part is its own. Off, the
    // search and the guard run as they did without it.
    bool CoarseTrack = true;
    // Set by the front end (STOP, Ctrl-C: kStopByUser) or the worker (the stop point:
    // kStopAtPoint); read once per segment.
    std::atomic<int> StopRequest{0};

    // Written by the worker during the job, read by the front end after it.
    GuardCounts Guard;
    int TrackPoints = 0;          // points taken from the coarse track (the fine search disagreed with it)
    int TrackJumps = 0;           // pauses and lost material the track found
    bool TrackFound = false;      // the track held; false: the search ran without it
    std::string TrackRows;        // the track's and the points' rows of <slave>.Track.csv
    bool StartUndecided = false;  // the start check found no clear winner; the onset was kept
};

}  // namespace tandem
