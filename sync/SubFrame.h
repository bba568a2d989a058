// The slave position of a segment's end to a fraction of a frame.
//
// The search finds each segment end P in whole frames. The master's 0.4 s around K is
// cut into short blocks, each correlated with the slave at whole lags about the
// segment's line (no slave sample is resampled); a line's score at a fractional offset is
// the blocks' correlations read band-limited (windowed sinc) at each block's own
// fractional lag, summed, and normalised by the slave's energy along the line. The
// window's two halves first correct the segment's rate (three passes), then the middle
// half gives the offset of K's true slave position from P: the best whole offset, then
// parabolas of steps 1, 0.1 and 0.01 frame. A map through such points takes off the
// bias of its curve (SubFrameLineSpan).
// Median error on the evaluation kit's music (16-bit, 44.1 kHz): 0.001 frame clean,
// 0.007 with 20 dB of noise, 0.008 under a 0.1 % wow before the curve's bias is taken
// off; 0.0067 on the tests' generated pair; whole frames give 0.24 to 0.33.
//
// Thread safety: reads both files (which must be loaded); one thread per file pair.
#pragma once

#include <cstdint>

#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

// Offset (slave frames, within +-kSubFrameReach) of master frame K's slave position
// from P, for the segment [J, K) found at slave [N, P) (or [K, J) at [P, N): a chain's
// first point is measured with the segment that follows it). 0 where it cannot be
// measured: silence, a window past either file's end, or no correlation peak within reach.
// measured (when given) says whether a peak was found.
double SubFrameOffset(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P,
                      bool* measured = nullptr);

// Master frame K's slave position measured on its own, not from the segment that ends
// there: the normalised correlation of the master's 0.1 s about K with the slave along
// the line through P at the given rate, at whole lags within +-kLocalEndReach, the
// peak's vertex by a parabola. The window's halves correct the rate once first (a
// track's rate under wow is off by 0.08 % at the median). 0.1 s is short against a
// tape's wow: with the rate so corrected, the generated cassette's ends are all found
// within 2 frames (median 0.16), where the segment search's are 66 % so. emphasised:
// the same on the signals' differences, whose peak reverberation spreads far less.
constexpr int kLocalEndReach = 31;  // the correlation kernel's 64 lags
struct LocalEnd {
    bool measured = false;  // false: silence, a file's edge, or the best at the reach's edge
    double offset = 0.0;    // from P, slave frames
    double peak = 0.0;      // the normalised correlation there, 0..1
};
LocalEnd LocalEndOffset(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex P, double rate, bool emphasised = false);

// Knots inside long segments. The search lengthens a segment over a quiet passage (to
// several seconds), and a cubic through its ends alone misses the clocks' curve there
// (0.6 frame inside a 4.1 s segment under a 0.05 % wobble of 55 s). Where the passage
// holds enough to measure, the same correlation places knots at the points' usual
// spacing (their median), predicted by the map through the points; breaks (a pause,
// lost material) get none, nor places where the measure on the signals' differences
// disagrees (a reflection, not the clock). master/slave: the points (master frames,
// exact slave positions in the slave file's frames, which must be at the master's rate),
// extended in order.
void AddInteriorKnots(KWavefile& master, KWavefile& slave, std::vector<FrameIndex>& masterPoints,
                      std::vector<double>& slavePoints, FrameIndex edgeSpan);

// The half-width (master frames) of the window over which SubFrameOffset measures a
// point as a line: a time map through such points takes off the bias of its curve.
double SubFrameLineSpan(std::uint32_t sampleRate);

}  // namespace tandem
