// The band-limited read as defined, in plain double arithmetic: every weight from the
// Kaiser-windowed sinc itself (no table), for checking and timing the kernels of
// dsp/SincResampler against.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/SincResampler.h"

namespace tandem::reference {

inline double KaiserI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// src (n frames) read at pos with the kernel for `rate`; silence outside src.
inline double SincAt(const float* src, std::int64_t n, double pos, double rate) {
    rate = std::fmin(std::fmax(rate, 1.0), kSincMaxRate);
    const double cutoff = 1.0 / rate, half = kSincTaps / 2 * rate;
    double sum = 0.0;
    for (auto k = static_cast<std::int64_t>(std::ceil(pos - half)); k <= static_cast<std::int64_t>(std::floor(pos + half)); ++k) {
        const double d = static_cast<double>(k) - pos, r = d / half;
        if (k < 0 || k >= n || !(r > -1.0 && r < 1.0)) continue;
        const double sinc = d == 0.0 ? 1.0 : std::sin(M_PI * cutoff * d) / (M_PI * cutoff * d);
        sum += src[k] * cutoff * sinc * KaiserI0(kSincBeta * std::sqrt(1.0 - r * r)) / KaiserI0(kSincBeta);
    }
    return sum;
}

}  // namespace tandem::reference
