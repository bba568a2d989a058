// Small signal tools for the checks that run beside the segment search (the robust
// start point and the re-anchored segment ends): mono reads, linear stretching,
// band limiting with decimation, normalised correlation over a range of lags, and the
// transforms of dsp/Fft.h.
//
// Thread safety: plain functions; the file belongs to the calling thread.
#pragma once

#include <complex>

#include "dsp/Fft.h"
#include <cstdint>
#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

// left + right of frames [start, end) in sample units; silence outside the file.
// Throws SyncError when frames inside the file cannot be read.
std::vector<double> ReadMono(KWavefile& file, FrameIndex start, FrameIndex end);

// y[i] = x at position from + i * step, linearly interpolated; 0 outside x.
std::vector<double> Stretch(const std::vector<double>& x, double from, double step, std::size_t count);

// Band limiting for one sample rate: low-passed at 4 kHz (windowed sinc) and decimated
// to about 11 kHz; the lowest frequencies (below about 100 Hz) removed by subtracting a
// 10 ms moving average. At 44.1 kHz: decimation 4, 65 taps, margin 256 frames.
class BandDecimator {
public:
    explicit BandDecimator(std::uint32_t rate);
    int Decimation() const { return decimation_; }
    // Frames x needs on either side of the span of interest; the output leaves them out.
    int Margin() const { return margin_; }
    // y[k] belongs to x[Margin() + Decimation() * k].
    std::vector<double> Apply(const std::vector<double>& x) const;

private:
    int decimation_, tapsHalf_, boxHalf_, margin_;
    std::vector<double> taps_;
};

// The decimator of a rate, made once per thread.
const BandDecimator& BandFor(std::uint32_t rate);

struct LagPeak {
    double lag = 0.0;  // lag of the largest |r|, refined between lags by a parabola
    double r = 0.0;    // Pearson correlation there (the sign gives the polarity)
};

// Pearson r of pattern t against s[lag .. lag + t.size()) for lag = 0 .. lags - 1 (s
// holds t.size() + lags - 1 values); 0 where either side has no variance.
std::vector<double> Correlations(const std::vector<double>& t, const std::vector<double>& s, int lags);

// Best |r| of pattern t against s[lag .. lag + t.size()) for lag = 0 .. lags - 1
// (s holds t.size() + lags - 1 values). r = 0 where either side has no variance.
LagPeak BestCorrelation(const std::vector<double>& t, const std::vector<double>& s, int lags);


// Partially whitened cross-correlation (PHAT-beta, beta 0.75) of a pattern against a
// longer stretch over the band lowHz .. highHz: c[l] for l = 0 .. lags - 1, where the
// pattern's first value meets stretch[l], scaled so that a perfect match reads 1.
// Whitening keeps the direct sound's peak sharp where a room's reflections, summed,
// outweigh it, and where EQ or a codec colour one side; full whitening (beta 1) would lift
// noise-only bins as high as music. The pattern is tapered over its outer 10 %.
// Not thread-safe: one per thread.
class WhitenedCorrelation {
public:
    WhitenedCorrelation(std::size_t patternLength, int lags, double rate, double lowHz = 150.0, double highHz = 3500.0);
    // pattern: patternLength values; stretch: patternLength + lags - 1 values.
    const std::vector<float>& Run(const float* pattern, const float* stretch);
    // The stretch once, then several patterns against it.
    void SetStretch(const float* stretch);
    const std::vector<float>& Correlate(const float* pattern);

private:
    RealFft fft_;
    int lags_;
    std::size_t pattern_;
    std::size_t lo_ = 0, hi_ = 0;
    FftReals a_, b_;
    FftBins A_, B_, S_;
    std::vector<float> taper_;
    std::vector<float> out_;
    std::vector<float> weighted_;  // each bin's share of the norm, then the product's parts
};

struct CorrelationPeak {
    double index = 0.0;   // lag index, refined between lags by a parabola
    double height = 0.0;  // |c| there
    double z = 0.0;       // height over the spread of c away from the best peak's lobe
};

// The count best local maxima of |c|, at least lobe lags apart, best first.
std::vector<CorrelationPeak> BestPeaks(const std::vector<float>& c, int lobe, int count);

}  // namespace tandem
