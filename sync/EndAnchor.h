// Re-anchors segment ends. A segment that stretches over a quiet passage ends at the
// onset that ends it, and the length search, dominated by the passage's well-aligned
// fade-out, can miss that end by some frames; in sustained passages the chain can swing
// about the true ends. The master around the end (+-0.2 s, which holds the onset)
// stretched by the segment's rate is correlated with the slave within +-64 frames of
// the chain's end, either polarity.
//
// Thread safety: the files belong to the calling thread.
#pragma once

#include "core/Types.h"

namespace tandem {

class KWavefile;

struct EndAnchor {
    int shift = 0;   // frames to add to the segment's slave end; 0 = keep it
    double r = 0.0;  // correlation at the new end (negative: inverted polarity)
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

}  // namespace tandem
