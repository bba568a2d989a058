// Re-anchors the end of a long segment. A segment that stretches over a quiet passage
// ends at the onset that ends it, and the length search, dominated by the passage's
// well-aligned fade-out, can miss that end by some frames. The master around the end
// (+-0.2 s, which holds the onset) stretched by the segment's rate is correlated with
// the slave within +-64 frames of the chain's end, either polarity.
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

}  // namespace tandem
