// The job record: the job's parameters under their record names (set from the
// JobRequest once, when the job starts: SetJobRecord), the stop request a front end sets,
// and what the worker leaves for the front end to read after the job. Also the mix
// settings, the option bits and the search modes.
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
    // As the request has them (JobRequest); the output's name is made from these.
    std::string MasterFile;
    std::string SlaveFile;
    int BaseStep = 0;           // division interval, 0.1 s units
    FrameIndex MasterSkip = 0;  // 44.1 kHz frames; a resumed job's: the stored pair's own frames
    FrameIndex SlaveSkip = 0;
    int RangeS = 0;             // offset half-width at the start point, 44.1 kHz frames
    int RangeE = 0;             // length half-width at every division point, 44.1 kHz frames
    FrameIndex DpLimit = 0;     // stop point, 44.1 kHz frames; 0 = none
    int EqLow = 0;              // Hz, 0 = no lower edge
    int EqHigh = 0;             // Hz, 0 = no upper edge
    // The writer's choices, from the request: the output's slave read band-limited along
    // a smooth map through the sub-frame points (false: --interpolation linear, qzv.ini
    // TandemEnv INTERPOLATION=linear: linearly between whole-frame points, as before), and
    // the slave alone on the master's timeline as a second file (SlaveOnMasterFileName).
    bool BandLimited = true;
    bool SlaveOut = false;
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
