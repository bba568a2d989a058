// The signal work under the coarse track: mono copies decimated with a Kaiser
// polyphase filter, window levels, a fast logarithm for the onset envelopes and a
// Pearson correlation by transform. Used by sync/CoarseTrack only.
//
// Thread safety: plain functions and values; the file belongs to the calling thread.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/BigBuffer.h"
#include "core/Types.h"
#include "dsp/Fft.h"

namespace tandem {

class KWavefile;

namespace track {

// The middle value (the upper one of an even count); 0 of none.
double median(std::vector<double> v);

// The natural logarithm of y >= 1 to about 1e-6 (see the definition).
float logOf(float y);

// A decimated copy of a whole file (tens of megabytes), not zeroed before it is written
// (see BigBuffer.h for why in small pages).
using Signal = std::vector<float, BigBufferAllocator<float>>;

// The whole file as mono (left + right), low-passed below cutoffHz and decimated by
// factor. Throws SyncError when frames inside the file cannot be read.
Signal decimatedMono(KWavefile& file, int factor, double cutoffHz);

// x low-passed at cutoff (cycles per sample of x) and decimated by factor.
Signal decimate(const Signal& x, int factor, double cutoff);

// Window levels from prefix sums of squares over blocks of 32 values (4 ms at the track's
// rate): a window's level to the block is all the decisions need, at a thirty-second of
// the memory of sums per value.
class Levels {
public:
    explicit Levels(const Signal& x);
    double Rms(FrameIndex a, FrameIndex b) const {
        a = std::clamp<FrameIndex>(a, 0, count_) / static_cast<FrameIndex>(kBlock);
        b = std::clamp<FrameIndex>(b, 0, count_) / static_cast<FrameIndex>(kBlock);
        return b > a ? std::sqrt((sums_[static_cast<std::size_t>(b)] - sums_[static_cast<std::size_t>(a)]) / static_cast<double>((b - a) * kBlock))
                     : 0.0;
    }
    // The level below which a window counts as near silence: quietDb under the median of
    // the windows that hold anything, and never below the level of dither.
    double QuietBelow(FrameIndex window, double quietDb) const {
        std::vector<double> levels;
        for (FrameIndex a = 0; a + window <= count_; a += window) {
            const double r = Rms(a, a + window);
            if (r > 1.0) levels.push_back(r);
        }
        return std::max(2.0, median(levels) * std::pow(10.0, -quietDb / 20.0));
    }

private:
    static constexpr std::size_t kBlock = 32;
    FrameIndex count_;
    std::vector<double> sums_;
};

// Pearson r of a pattern of n values against stretch[l .. l + n) for l < lags: the
// products by one transform of the stretch and one per pattern, the stretch's sums by
// prefix sums. Many rates' patterns meet one stretch.
class Pearson {
public:
    Pearson(const float* stretch, std::size_t n, int lags)
        : n_(n), lags_(lags), fft_(TransformSize(n + static_cast<std::size_t>(lags))), sum_(static_cast<std::size_t>(lags) + n, 0.0),
          sq_(sum_.size(), 0.0) {
        FftReals x = AllocReals(fft_.Size());
        S_ = AllocBins(fft_.Bins());
        const std::size_t m = n + static_cast<std::size_t>(lags) - 1;
        for (std::size_t i = 0; i < fft_.Size(); ++i) x[i] = i < m ? stretch[i] : 0.0f;
        fft_.Forward(x.get(), S_.get());
        for (std::size_t i = 0; i < m; ++i) {
            sum_[i + 1] = sum_[i] + stretch[i];
            sq_[i + 1] = sq_[i] + static_cast<double>(stretch[i]) * stretch[i];
        }
    }
    void Run(const std::vector<float>& pattern, std::vector<float>& r) const {
        FftReals x = AllocReals(fft_.Size());
        FftBins P = AllocBins(fft_.Bins());
        double ps = 0.0, pq = 0.0;
        for (std::size_t i = 0; i < fft_.Size(); ++i) {
            const float v = i < n_ ? pattern[i] : 0.0f;
            x[i] = v;
            ps += v;
            pq += static_cast<double>(v) * v;
        }
        fft_.Forward(x.get(), P.get());
        for (std::size_t k = 0; k < fft_.Bins(); ++k) P[k] = std::conj(P[k]) * S_[k];
        fft_.Inverse(P.get(), x.get());
        const double n = static_cast<double>(n_), pv = pq - ps * ps / n;
        r.assign(static_cast<std::size_t>(lags_), 0.0f);
        if (pv <= 0.0) return;
        for (int l = 0; l < lags_; ++l) {
            const std::size_t a = static_cast<std::size_t>(l), b = a + n_;
            const double ss = sum_[b] - sum_[a], sv = (sq_[b] - sq_[a]) - ss * ss / n;
            if (sv <= 1e-9 * (sq_[b] - sq_[a]) || sv <= 0.0) continue;
            const double dot = static_cast<double>(x[a]) / static_cast<double>(fft_.Size());
            r[a] = static_cast<float>((dot - ps * ss / n) / std::sqrt(pv * sv));
        }
    }

private:
    std::size_t n_;
    int lags_;
    RealFft fft_;
    FftBins S_;
    std::vector<double> sum_, sq_;
};


}  // namespace track
}  // namespace tandem
