// The inner loops of the segment search: a master segment stretched to a candidate
// length and its dot product with the slave.
//
// The stretched master at i for length L is, per channel, the linear interpolation at
// i * n / L truncated to a whole sample; left and right are then added. Scores are sums
// of unscaled products (see kSumScale). Every variant keeps four partial sums, lane k
// taking elements k, k + 4, k + 8, ..., added in that order, so all of them return
// bit-identical results and a job finds the same points on every processor.
//
// Inputs: ml/mr point at frame 0 of the channel arrays, which must be readable from
// index -1 to n - 1 + kStretchPadBack (the vector variants load whole neighbourhoods);
// s holds at least L values.
#pragma once

#include <cstddef>
#include <vector>

#include "core/Types.h"

namespace tandem {

// Values readable behind the last master frame.
constexpr std::size_t kStretchPadBack = 16;
// Brings an unscaled sum of products to the score's scale (each value / 32767, each
// product again / 32767^2).
constexpr double kSumScale = 1.0 / (32767.0 * 32767.0 * 32767.0 * 32767.0);

// The vector variants find the position i * n / L by a reciprocal and one correction
// (exact, see the source); the Divide ones by a division, as before (reference only).
enum class StretchKernel { Plain, Avx2Divide, Avx2, Avx512Divide, Avx512 };

// Whether this processor runs the variant.
bool Supports(StretchKernel kernel);

// Score of the master stretched to L against s[0 .. L), already scaled.
double StretchScore(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s);
double StretchScoreWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                        const double* s);

// Adds the products of elements [from, to) to the four partial sums, lane k taking the
// elements k, k + 4, ... in order. from is a multiple of 8, to a multiple of 8 or L: the
// parts of 0 .. L taken in order give the whole score's sums bit for bit, so a score may
// stop part way and go on. LanesScore is the score of the sums, as StretchScore gives it.
void StretchLanes(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s, FrameIndex from,
                  FrameIndex to, double lanes[4]);
void StretchLanesWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                      const double* s, FrameIndex from, FrameIndex to, double lanes[4]);
double LanesScore(const double lanes[4]);

// Running sums of squares in blocks of eight: sums[k] is the sum of v[i]^2 for
// i < min(8k, count), k = 0 .. ceil(count / 8). For whole numbers below 2^17 (sums of
// two 16-bit samples) every sum is exact while the last stays below 2^53. The master's v
// is ml + mr over frames 0 .. n (ml[n], mr[n]: the repeated last frame).
void BlockSquares(const double* v, FrameIndex count, std::vector<double>& sums);
void MasterBlockSquares(const double* ml, const double* mr, FrameIndex n, std::vector<double>& sums);
// Upper bounds of the sum of the squares of the stretched values from an element to
// L - 1, from MasterBlockSquares; infinite for stretches beyond 3/2 (no bound derived there).
class StretchTail {
public:
    StretchTail(const std::vector<double>& master, FrameIndex n, FrameIndex L);
    double From(FrameIndex from) const;

private:
    const std::vector<double>& master_;
    FrameIndex L_;
    double ratio_, weight_;
};

// The stretched master itself, for scoring one length at many offsets.
void StretchInto(const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m);
void StretchIntoWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m);
// The positions i * n / L, i = 0 .. L - 1, as the variant computes them.
void StretchPositionsWith(StretchKernel kernel, FrameIndex n, FrameIndex L, double* pos);
// Unscaled dot product with the same four partial sums.
double Dot(const double* a, const double* b, FrameIndex n);

}  // namespace tandem
