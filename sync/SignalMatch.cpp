#include "sync/SignalMatch.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "core/Clones.h"
#include "core/TimeBase.h"
#include "sync/PatternSearch.h"
#include "wave/FrameSums.h"
#include "wave/KWavefile.h"

namespace tandem {

std::vector<double> ReadMono(KWavefile& file, FrameIndex start, FrameIndex end) {
    std::vector<double> mono(static_cast<std::size_t>(std::max<FrameIndex>(end - start, 0)), 0.0);
    const FrameIndex from = std::max<FrameIndex>(start, 0), to = std::min(end, file.FrameCount);
    if (from >= to) return mono;
    const Frame* frames = file.FramesInPlace(from, to);
    if (!frames) {
        // Called once per segment: a scratch buffer saves an image's allocation and clearing.
        thread_local std::vector<Frame> scratch;
        scratch.resize(static_cast<std::size_t>(to - from));
        if (file.ReadFrames(scratch.data(), from, to) == 0) throw Unreadable(file);
        frames = scratch.data();
    }
    ChannelSums(frames, static_cast<std::size_t>(to - from), mono.data() + (from - start));
    return mono;
}

namespace {

// y[i] for i in [begin, end), every position inside [0, last): no bounds tests, so the
// loop vectorises (the end anchor stretches 9,000 frames a segment).
TANDEM_CLONES("avx512f", "avx2")
void stretchInside(const double* px, double from, double step, std::size_t begin, std::size_t end, double* y) {
    for (std::size_t i = begin; i < end; ++i) {
        const double pos = from + static_cast<double>(i) * step;
        const std::size_t idx = static_cast<std::size_t>(pos);
        const double f = pos - static_cast<double>(idx);
        y[i] = px[idx] + f * (px[idx + 1] - px[idx]);
    }
}

}  // namespace

std::vector<double> Stretch(const std::vector<double>& x, double from, double step, std::size_t count) {
    std::vector<double> y(count, 0.0);
    if (x.empty() || step <= 0.0) return y;
    const double last = static_cast<double>(x.size()) - 1.0;
    const auto at = [&](std::size_t i) { return from + static_cast<double>(i) * step; };
    // Positions rise with i: those inside [0, last) are one run, found from its estimate.
    std::size_t i = 0;
    while (i < count && at(i) < 0.0) ++i;
    const double estimate = std::ceil((last - from) / step);
    std::size_t end = i;
    if (estimate >= static_cast<double>(count))
        end = count;
    else if (estimate > static_cast<double>(i))
        end = static_cast<std::size_t>(estimate);
    while (end > i && at(end - 1) >= last) --end;
    while (end < count && at(end) < last) ++end;
    stretchInside(x.data(), from, step, i, end, y.data());
    if (end < count && at(end) == last) y[end] = x.back();
    return y;
}

namespace {

// Dot product in four independent sums, so that the additions need not wait for one
// another (the compiler may not reorder them itself).
double dot4(const double* a, const double* b, std::size_t n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

// Sum and sum of squares, likewise in independent sums.
void sums4(const double* x, std::size_t n, double& sum, double& sq) {
    double s[4] = {0.0, 0.0, 0.0, 0.0}, q[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k) {
            s[k] += x[i + k];
            q[k] += x[i + k] * x[i + k];
        }
    for (; i < n; ++i) {
        s[0] += x[i];
        q[0] += x[i] * x[i];
    }
    sum = (s[0] + s[1]) + (s[2] + s[3]);
    sq = (q[0] + q[1]) + (q[2] + q[3]);
}

}  // namespace

BandDecimator::BandDecimator(std::uint32_t rate) {
    const TimeBase time(rate);
    decimation_ = std::max(1, static_cast<int>(std::lround(time.Scale(4.0))));
    tapsHalf_ = std::max(1, static_cast<int>(std::lround(time.Scale(32.0))));
    boxHalf_ = static_cast<int>(std::lround(0.005 * time.Rate() / decimation_));  // 10 ms at the decimated rate
    margin_ = std::max(static_cast<int>(time.Frames(256)), tapsHalf_ + decimation_ * boxHalf_);
    const double fc = 4000.0 / time.Rate();
    taps_.resize(static_cast<std::size_t>(2 * tapsHalf_ + 1));
    double sum = 0.0;
    for (int j = -tapsHalf_; j <= tapsHalf_; ++j) {
        const double sinc = j == 0 ? 2.0 * fc : std::sin(2.0 * M_PI * fc * j) / (M_PI * j);
        const double w = 0.42 + 0.5 * std::cos(M_PI * j / tapsHalf_) + 0.08 * std::cos(2.0 * M_PI * j / tapsHalf_);
        taps_[static_cast<std::size_t>(j + tapsHalf_)] = sinc * w;
        sum += sinc * w;
    }
    for (double& v : taps_) v /= sum;
}

const BandDecimator& BandFor(std::uint32_t rate) {
    // A deque: references handed out stay valid when another rate is added.
    thread_local std::deque<std::pair<std::uint32_t, BandDecimator>> made;
    for (const auto& [r, d] : made)
        if (r == rate) return d;
    made.emplace_back(rate, BandDecimator(rate));
    return made.back().second;
}

std::vector<double> BandDecimator::Apply(const std::vector<double>& x) const {
    const FrameIndex n = static_cast<FrameIndex>(x.size());
    const FrameIndex dec = decimation_, margin = margin_;
    if (n <= 2 * margin) return {};
    const FrameIndex outCount = (n - 2 * margin + dec - 1) / dec;
    // Low-passed values for k = -boxHalf .. outCount + boxHalf - 1.
    std::vector<double> lp(static_cast<std::size_t>(outCount + 2 * boxHalf_));
    for (std::size_t k = 0; k < lp.size(); ++k) {
        const FrameIndex c = margin + dec * (static_cast<FrameIndex>(k) - boxHalf_);
        if (c - tapsHalf_ >= 0 && c + tapsHalf_ < n) {
            lp[k] = dot4(taps_.data(), x.data() + (c - tapsHalf_), taps_.size());
            continue;
        }
        double acc = 0.0;
        for (int j = -tapsHalf_; j <= tapsHalf_; ++j) {
            const FrameIndex at = c + j;
            if (at >= 0 && at < n) acc += taps_[static_cast<std::size_t>(j + tapsHalf_)] * x[static_cast<std::size_t>(at)];
        }
        lp[k] = acc;
    }
    std::vector<double> y(static_cast<std::size_t>(outCount));
    double box = 0.0;
    for (int j = 0; j <= 2 * boxHalf_; ++j) box += lp[static_cast<std::size_t>(j)];
    for (std::size_t k = 0; k < y.size(); ++k) {
        y[k] = lp[k + static_cast<std::size_t>(boxHalf_)] - box / (2 * boxHalf_ + 1);
        if (k + 2 * static_cast<std::size_t>(boxHalf_) + 1 < lp.size()) box += lp[k + 2 * static_cast<std::size_t>(boxHalf_) + 1] - lp[k];
    }
    return y;
}

std::vector<double> Correlations(const std::vector<double>& t, const std::vector<double>& s, int lags) {
    std::vector<double> r(static_cast<std::size_t>(std::max(lags, 0)), 0.0);
    const std::size_t n = t.size();
    if (n < 2 || lags < 1 || s.size() < n + static_cast<std::size_t>(lags) - 1) return r;
    double tSum = 0.0, tSq = 0.0;
    sums4(t.data(), n, tSum, tSq);
    const double mean = tSum / static_cast<double>(n);
    const double tt = tSq - tSum * mean;
    if (tt <= 1e-12 * tSq || tt <= 0.0) return r;
    std::vector<double> tz(n);
    for (std::size_t i = 0; i < n; ++i) tz[i] = t[i] - mean;

    double sum = 0.0, sq = 0.0;
    sums4(s.data(), n, sum, sq);
    for (int lag = 0; lag < lags; ++lag) {
        const std::size_t l = static_cast<std::size_t>(lag);
        if (lag > 0) {
            sum += s[l + n - 1] - s[l - 1];
            sq += s[l + n - 1] * s[l + n - 1] - s[l - 1] * s[l - 1];
        }
        const double var = sq - sum * sum / static_cast<double>(n);
        if (var <= 1e-9 * sq || var <= 0.0) continue;
        r[l] = dot4(tz.data(), s.data() + l, n) / std::sqrt(tt * var);
    }
    return r;
}

LagPeak BestCorrelation(const std::vector<double>& t, const std::vector<double>& s, int lags) {
    LagPeak peak;
    const std::vector<double> r = Correlations(t, s, lags);
    if (r.empty()) return peak;
    std::size_t best = 0;
    for (std::size_t l = 1; l < r.size(); ++l)
        if (std::fabs(r[l]) > std::fabs(r[best])) best = l;
    peak.r = r[best];
    peak.lag = static_cast<double>(best);
    if (best > 0 && best + 1 < r.size()) {
        const double y0 = std::fabs(r[best - 1]), y1 = std::fabs(r[best]), y2 = std::fabs(r[best + 1]);
        const double d = y0 - 2.0 * y1 + y2;
        if (d < 0.0) peak.lag += std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5);
    }
    return peak;
}

WhitenedCorrelation::WhitenedCorrelation(std::size_t patternLength, int lags, double rate, double lowHz, double highHz)
    : fft_(TransformSize(patternLength + static_cast<std::size_t>(lags))), lags_(lags), pattern_(patternLength) {
    const double binHz = rate / static_cast<double>(fft_.Size());
    lo_ = static_cast<std::size_t>(std::ceil(lowHz / binHz));
    hi_ = std::min(fft_.Bins() - 1, static_cast<std::size_t>(std::floor(std::min(highHz, 0.45 * rate) / binHz)));
    a_ = AllocReals(fft_.Size());
    b_ = AllocReals(fft_.Size());
    A_ = AllocBins(fft_.Bins());
    B_ = AllocBins(fft_.Bins());
    S_ = AllocBins(fft_.Bins());
    const std::size_t taper = std::max<std::size_t>(1, patternLength / 10);
    taper_.assign((patternLength + 1) / 2 + 1, 1.0f);
    for (std::size_t i = 0; i < std::min(taper, taper_.size()); ++i)
        taper_[i] = static_cast<float>(0.5 - 0.5 * std::cos(M_PI * (static_cast<double>(i) + 0.5) / static_cast<double>(taper)));
}

const std::vector<float>& WhitenedCorrelation::Run(const float* pattern, const float* stretch) {
    SetStretch(stretch);
    return Correlate(pattern);
}

void WhitenedCorrelation::SetStretch(const float* stretch) {
    const std::size_t n = fft_.Size(), s = pattern_ + static_cast<std::size_t>(lags_) - 1;
    for (std::size_t i = 0; i < n; ++i) b_[i] = i < s ? stretch[i] : 0.0f;
    fft_.Forward(b_.get(), S_.get());
}

namespace {

// The cross spectrum weighted by |X|^-0.75 (two square roots, far cheaper than pow), and
// each bin's |X| w for the norm; a bin of no magnitude stays empty. Branch-free, so that
// it runs in vectors: square roots and divisions round there as they do one by one. The
// product's parts go through `re` and `im` apart: written interleaved, GCC's complex
// pattern fused them into an FMA despite -ffp-contract=off.
TANDEM_CLONES("avx512f", "avx2")
void whiten(const std::complex<float>* a, const std::complex<float>* s, std::size_t n, std::complex<float>* out,
            float* re, float* im, float* weighted) {
    const float* A = reinterpret_cast<const float*>(a);
    const float* S = reinterpret_cast<const float*>(s);
    float* B = reinterpret_cast<float*>(out);
    for (std::size_t k = 0; k < n; ++k) {
        const float ar = A[2 * k], ai = A[2 * k + 1], br = S[2 * k], bi = S[2 * k + 1];
        re[k] = ar * br + ai * bi;
        im[k] = ar * bi - ai * br;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const float xr = re[k], xi = im[k];
        const float mag = std::sqrt(xr * xr + xi * xi);
        const float root = std::sqrt(mag);
        const float w = 1.0f / (root * std::sqrt(root));
        const bool on = mag > 0.0f;
        B[2 * k] = on ? xr * w : 0.0f;
        B[2 * k + 1] = on ? xi * w : 0.0f;
        weighted[k] = on ? mag * w : 0.0f;
    }
}

}  // namespace

const std::vector<float>& WhitenedCorrelation::Correlate(const float* pattern) {
    const std::size_t n = fft_.Size(), p = pattern_;
    for (std::size_t i = 0; i < n; ++i) a_[i] = 0.0f;
    for (std::size_t i = 0; i < p; ++i) a_[i] = pattern[i] * taper_[std::min(i, p - 1 - i)];
    fft_.Forward(a_.get(), A_.get());
    std::fill(B_.get(), B_.get() + fft_.Bins(), std::complex<float>{});
    weighted_.resize(3 * fft_.Bins());
    float* const re = weighted_.data() + fft_.Bins();
    double norm = 0.0;
    if (lo_ <= hi_) {
        whiten(A_.get() + lo_, S_.get() + lo_, hi_ - lo_ + 1, B_.get() + lo_, re, re + fft_.Bins(), weighted_.data());
        for (std::size_t k = 0; k <= hi_ - lo_; ++k) norm += static_cast<double>(weighted_[k]);  // +0 where a bin is empty
    }
    fft_.Inverse(B_.get(), b_.get());
    out_.assign(static_cast<std::size_t>(lags_), 0.0f);
    // Scaled so that heights read as a coherence, 1 for a perfect match.
    const float scale = norm > 0.0 ? static_cast<float>(1.0 / norm) : 0.0f;
    for (int l = 0; l < lags_; ++l) out_[static_cast<std::size_t>(l)] = b_[static_cast<std::size_t>(l)] * scale;
    return out_;
}

std::vector<CorrelationPeak> BestPeaks(const std::vector<float>& c, int lobe, int count) {
    std::vector<CorrelationPeak> peaks;
    const int n = static_cast<int>(c.size());
    if (n < 3) return peaks;
    std::vector<int> taken;
    for (int p = 0; p < count; ++p) {
        int best = -1;
        float bestV = 0.0f;
        for (int l = 1; l + 1 < n; ++l) {
            const float v = std::fabs(c[static_cast<std::size_t>(l)]);
            if (v <= bestV || v < std::fabs(c[static_cast<std::size_t>(l - 1)]) || v < std::fabs(c[static_cast<std::size_t>(l + 1)])) continue;
            bool near = false;
            for (int t : taken) near = near || std::abs(t - l) < lobe;
            if (near) continue;
            best = l;
            bestV = v;
        }
        if (best < 0) break;
        taken.push_back(best);
        CorrelationPeak peak;
        const double y0 = std::fabs(c[static_cast<std::size_t>(best - 1)]), y1 = bestV, y2 = std::fabs(c[static_cast<std::size_t>(best + 1)]);
        const double d = y0 - 2.0 * y1 + y2;
        peak.index = best + (d < 0.0 ? std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5) : 0.0);
        peak.height = y1;
        peaks.push_back(peak);
    }
    if (peaks.empty()) return peaks;
    // Spread away from the best peak's lobe.
    double sq = 0.0;
    int m = 0;
    const int top = taken[0];
    for (int l = 0; l < n; ++l) {
        if (std::abs(l - top) < lobe) continue;
        sq += static_cast<double>(c[static_cast<std::size_t>(l)]) * c[static_cast<std::size_t>(l)];
        ++m;
    }
    const double sigma = m > 0 ? std::sqrt(sq / m) : 0.0;
    for (CorrelationPeak& pk : peaks) pk.z = sigma > 0.0 ? pk.height / sigma : 0.0;
    return peaks;
}

}  // namespace tandem
