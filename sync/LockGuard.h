// Keeps the segment chain on the material's track.
//
// Two recorders' clocks differ by at most a few percent, and the difference changes
// slowly (well under 0.1 % per second). A chain that is in step therefore follows a
// nearly straight line of slave against master position, and each segment's end
// correlates with the master about as well as its neighbours' did. The specified chain
// ties a segment to its neighbours by nothing but its start: on repeating material it
// can slip by a pitch or beat period, and after a pause or dropout in the slave the true
// position lies beyond every later segment's reach.
//
// The guard judges every searched segment end against the line through the recent
// points (a bound from the clock physics plus the chain's own scatter) and against the
// recent end correlations. A suspect end is searched again around the predicted
// position, where the candidate nearest the prediction wins among near-equal ones. When
// nothing there matches confidently, the lock is lost: the points go on at the recent
// rate, and from the next segment on the guard looks for where the master's material
// lies in the slave, in a widening window around the prediction (onset envelopes, then
// the waveform), and hands back to the chain at the first clear winner.
//
// Thread safety: one guard per job, on the worker; the files belong to that thread.
#pragma once

#include <deque>
#include <string>

#include "core/Types.h"

namespace tandem {

class KWavefile;

struct GuardCounts {
    int corrected = 0;   // segment ends moved to the match near the prediction
    int held = 0;        // points carried at the recent rate while the lock was lost
    int reacquired = 0;  // times the lock was found again
    int lost = 0;        // times the lock was lost
};

struct GuardJudgement {
    enum class Kind { Kept, Corrected, Held };
    Kind kind = Kind::Kept;
    FrameIndex slaveEnd = 0;  // the segment's slave end to use
    double r = 0.0;           // correlation at that end (0 when held)
};

struct Reacquisition {
    bool found = false;
    FrameIndex slaveStart = 0;  // slave frame of the master frame asked for
    double score = 0.0;
    double runnerUp = 0.0;
    FrameIndex reach = 0;       // half-width of the window searched
};

class LockGuard {
public:
    LockGuard(KWavefile& master, KWavefile& slave);

    // The start point pair of the chain (or of a resumed chain).
    void Start(FrameIndex masterFrame, FrameIndex slaveFrame);
    bool Lost() const { return lost_; }

    // Judges the end P of master segment [J, K), searched from slave N. endR is the
    // end's |r| from the segment-end look when one was made (negative: none).
    GuardJudgement Judge(FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P, double endR);
    // Records an accepted (or corrected) segment end.
    void Accept(FrameIndex K, FrameIndex P, double r);

    // While the lock is lost: the slave position held for master frame K, at the recent rate.
    FrameIndex Carry(FrameIndex J, FrameIndex K, FrameIndex N);
    // While the lock is lost: looks for master frame J's material in the slave around N
    // (the held position). On success the chain goes on from the returned position.
    Reacquisition Reacquire(FrameIndex J, FrameIndex N);

    // Slave frames per master frame from the recent points; 0 when too few.
    double RecentRate() const;
    const GuardCounts& Counts() const { return counts_; }

private:
    struct Point {
        FrameIndex master, slave;
        double r;  // end correlation, < 0 when unmeasured
    };
    FrameIndex bound(FrameIndex segmentFrames) const;
    double typicalR() const;
    bool masterQuiet(FrameIndex K) const;
    bool consistent(double r, double typical) const;

    KWavefile& master_;
    KWavefile& slave_;
    double fs_;
    FrameIndex sameEnd_;
    std::deque<Point> recent_;
    bool lost_ = false;
    int attempts_ = 0;
    FrameIndex sinceAttempt_ = 0;
    double heldRate_ = 1.0;
    GuardCounts counts_;
};

}  // namespace tandem
