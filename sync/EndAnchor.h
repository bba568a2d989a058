// Re-anchors segment ends. A segment that stretches over a quiet passage ends at the
// onset that ends it, and the length search, dominated by the passage's well-aligned
// fade-out, can miss that end by some frames; in sustained passages the chain can swing
// about the true ends. The master around the end (+-0.2 s, which holds the onset)
// stretched by the segment's rate is correlated with the slave within +-64 frames of
// the chain's end, either polarity.
//
// Thread safety: the files belong to the calling thread.
#pragma once

#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

struct EndAnchor {
    int shift = 0;   // frames to add to the segment's slave end; 0 = keep it
    double r = 0.0;  // correlation at the new end (negative: inverted polarity)
    double endR = -1.0;  // |r| of the quick look at the chain's end itself; -1 when it made none
};

// Master segment [J, K) found at slave [N, P). Returns a shift when |r| >= 0.5 and the
// end moves by at least 3 frames.
EndAnchor AnchorSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                           FrameIndex P);

// The same for an ordinary segment, where the search's end is nearly always right: a
// quick look (+-50 ms of master, +-3 frames) whether the end sits on the correlation
// peak, and AnchorSegmentEnd only when it does not. A chain that starts to swing
// (alternate lengths too long and too short) is caught at its first wrong end.
EndAnchor CheckSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                          FrameIndex P);

// |r| of the quick look's window (+-50 ms of master) at the chain's end P itself: what
// CheckSegmentEnd reports as endR, for segments it did not look at.
double EndCorrelation(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P);

// Pearson r of the master around K (+-around frames, stretched by rate slave frames per
// master frame about K) against the slave around P + lag, for lag = -reach .. reach
// (index lag + reach); the sign gives the polarity.
std::vector<double> EndCorrelations(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex P, double rate,
                                    FrameIndex around, int reach);

struct EndMatch {
    FrameIndex slaveEnd = 0;  // slave frame that matches K
    double r = 0.0;           // |r| there
};

// Where the master around K (+-around, stretched by rate) lies in the slave within
// +-reach of centre: band-limited and decimated first, then to the frame. Among peaks of
// at least nearEqual times the best, the one nearest centre wins, since on repeating
// material a match one period away scores nearly as well. With follow > 0 the one whose
// match holds best over the next follow frames of master wins instead: where centre is
// only a rough estimate, in a sustained note the peak nearest it is a pitch period off
// as often as not.
EndMatch FindEndNear(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex centre, double rate, FrameIndex around,
                     FrameIndex reach, double nearEqual, FrameIndex follow = 0);

}  // namespace tandem
