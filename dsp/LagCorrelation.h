// The two inner loops of the sub-frame measure: a short block's correlation with the
// other signal at a run of whole lags, and that correlation read band-limited between
// its lags (the sinc kernel's taps blended between two phases).
//
// Every variant gives bit-identical results: each lag (and each of four tap lanes) is
// its own sum, taken in the same order, products and sums rounded separately.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>

#include "dsp/SincResampler.h"

namespace tandem {

// Lags correlated at once: enough for the measure's reach and its kernel's taps.
constexpr int kCorrelationLags = 64;

// out[j] = sum over k < n of x[k] * s[k + j], j < kCorrelationLags; s must be readable
// over n + kCorrelationLags - 1 samples.
void CorrelateLags(const float* x, std::size_t n, const float* s, float* out);
void CorrelateLagsWith(SincKernel kernel, const float* x, std::size_t n, const float* s, float* out);

// One read of a correlation between its lags: v = sum over t < kSincTaps of
// weight(t) * c[at + t] and w the same over e, where weight(t) = (1 - a) * w0[t] +
// a * w1[t]; four lanes (tap t into lane t mod 4) added as (0 + 1) + (2 + 3).
struct BlendedRead {
    const float* w0;
    const float* w1;
    double a;
    std::size_t at;
};
// sum and power: the reads' v and w, added in order.
void BlendedDotSums(const BlendedRead* reads, std::size_t n, const double* c, const double* e, double& sum, double& power);
void BlendedDotSumsWith(SincKernel kernel, const BlendedRead* reads, std::size_t n, const double* c, const double* e,
                        double& sum, double& power);

}  // namespace tandem
