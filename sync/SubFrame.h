// The slave position of a segment's end to a fraction of a frame.
//
// The search finds each segment end P in whole frames. A local correlation of the
// master around K with the slave read band-limited (windowed sinc) at the segment's rate
// around P, over whole frames first and then twice over finer steps with a parabola
// through the three best, gives the offset of K's true slave position from P.
//
// Thread safety: reads both files (which must be loaded); one thread per file pair.
#pragma once

#include "core/Types.h"

namespace tandem {

class KWavefile;

// Offset (slave frames, within +-kSubFrameReach) of master frame K's slave position
// from P, for the segment [J, K) found at slave [N, P). 0 where it cannot be measured:
// silence, a window past either file's end, or no correlation peak within reach.
double SubFrameOffset(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P);

}  // namespace tandem
