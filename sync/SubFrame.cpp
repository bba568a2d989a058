#include "sync/SubFrame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/Clones.h"
#include "core/TimeBase.h"
#include "dsp/LagCorrelation.h"
#include "dsp/SincResampler.h"
#include "dsp/TimeMap.h"
#include "sync/StoredPoints.h"
#include "wave/FrameSums.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// Half the correlation window: 0.2 s holds a few periods of the lowest notes that carry
// a recording's timing and is short against how fast a clock's rate changes.
constexpr double kHalfWindowSeconds = 0.2;
constexpr int kLags = static_cast<int>(kSubFrameReach);
// Each pass shrinks the rate's error several times (the halves' own imbalance remains);
// on music the third pass still takes the points' RMS error from 0.029 to 0.020 frame.
constexpr int kRatePasses = 3;
// Inside one block the slave is correlated at whole lags as if it ran at the master's
// rate: a rate r smears the block's lag by |r - 1| times its length, symmetrically about
// its middle. A quarter frame leaves the peak where it is and costs no measurable
// precision (a 1 % slave: 25-frame blocks); 512 frames bounds the smear of the rate's
// residual error and keeps the blocks many.
constexpr double kBlockSmearFrames = 0.25;
constexpr FrameIndex kMinBlock = 16, kMaxBlock = 512;
// The local end's half window: short against the curve of a tape's wow.
constexpr double kLocalHalfSeconds = 0.05;
// The largest correction of the given rate: a track's rate under wow is off by up to 0.2 %.
constexpr double kLocalRateFix = 0.004;

// The mono sum of frames [from, to) of a file, zeros outside it, into sum. Every
// element is written once: the buffers are reused, not cleared first.
void monoSum(KWavefile& file, FrameIndex from, FrameIndex to, std::vector<float>& sum) {
    sum.resize(static_cast<std::size_t>(std::max<FrameIndex>(to - from, 0)));
    const auto silence = [&](FrameIndex begin, FrameIndex end) {
        std::fill(sum.begin() + static_cast<std::ptrdiff_t>(begin), sum.begin() + static_cast<std::ptrdiff_t>(end), 0.0f);
    };
    const FrameIndex a = std::max<FrameIndex>(from, 0), b = std::min<FrameIndex>(to, file.FrameCount);
    if (b <= a) return silence(0, static_cast<FrameIndex>(sum.size()));
    const Frame* frames = file.FramesInPlace(a, b);
    if (!frames) {
        thread_local std::vector<Frame> scratch;
        scratch.resize(static_cast<std::size_t>(b - a));
        if (file.ReadFrames(scratch.data(), a, b) == 0) return silence(0, static_cast<FrameIndex>(sum.size()));
        frames = scratch.data();
    }
    silence(0, a - from);
    ChannelSums(frames, static_cast<std::size_t>(b - a), sum.data() + (a - from));
    silence(b - from, static_cast<FrameIndex>(sum.size()));
}

// run[k] = the sum of s[i]^2 for i < k. The values are whole numbers (sums of two 16-bit
// samples, or their differences), so every square and every partial sum is exact in
// doubles (they stay below 2^53) and any order of the additions gives the very values of
// a running sum: eight at a time, each group's in-register scan plus the sum before it.
TANDEM_CLONES("avx512f", "avx2")
void runningSquares(const float* s, std::size_t n, double* run) {
    using Eight = double __attribute__((vector_size(8 * sizeof(double))));
    const Eight zero = {};
    run[0] = 0.0;
    double before = 0.0;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        Eight v;
        for (int j = 0; j < 8; ++j) v[j] = static_cast<double>(s[k + static_cast<std::size_t>(j)]) * s[k + static_cast<std::size_t>(j)];
        v += __builtin_shufflevector(zero, v, 0, 8, 9, 10, 11, 12, 13, 14);
        v += __builtin_shufflevector(zero, v, 0, 1, 8, 9, 10, 11, 12, 13);
        v += __builtin_shufflevector(zero, v, 0, 1, 2, 3, 8, 9, 10, 11);
        v += before;
        std::memcpy(run + k + 1, &v, sizeof v);
        before = v[7];
    }
    for (; k < n; ++k) run[k + 1] = before += static_cast<double>(s[k]) * s[k];
}

void runningEnergy(const std::vector<float>& s, std::vector<double>& run) {
    run.resize(s.size() + 1);
    runningSquares(s.data(), s.size(), run.data());
}

// The correlation of short master blocks with the slave at whole lags about a first
// line; a line's score at a fractional offset is the blocks' correlations read
// band-limited at each block's own fractional lag and summed. No sample is
// resampled: the correlations are band-limited as the signals are.
class BlockCorrelation {
public:
    static constexpr int kSpan = kLags + 2 + kSincTaps / 2;  // whole lags each side of the line
    static constexpr int kTaps = kSincTaps;                // the unstretched kernel's
    static_assert(2 * kSpan + 1 <= kCorrelationLags && kTaps == kSincTaps);

    // Blocks over master [C - half, C + half); lines are given by their slave position at K.
    BlockCorrelation(KWavefile& master, KWavefile& slave, FrameIndex C, FrameIndex K, FrameIndex half, FrameIndex block,
                     double P, double rate)
        : C_(C), K_(K), block_(block), P_(P), rate_(rate), table_(SincTableFor(1.0)) {
        thread_local std::vector<float> x, s;
        thread_local std::vector<double> run;
        monoSum(master, C - half, C + half, x);
        blocks_ = static_cast<int>(2 * half / block);
        middle_.resize(static_cast<std::size_t>(blocks_));
        start_.resize(middle_.size());
        for (int b = 0; b < blocks_; ++b) {
            middle_[static_cast<std::size_t>(b)] = static_cast<double>(masterStart(b) - K_) + 0.5 * static_cast<double>(block_);
            start_[static_cast<std::size_t>(b)] = static_cast<FrameIndex>(std::floor(lineStart(b, 0.0, rate_)));
        }
        const FrameIndex lo = startOf(0) - kSpan - 1, hi = startOf(blocks_ - 1) + block + kSpan + 2;
        // Padded for the kernel's fixed run of lags.
        monoSum(slave, lo, hi + kCorrelationLags, s);
        const int lags = 2 * kSpan + 1;
        corr_.assign(static_cast<std::size_t>(blocks_) * static_cast<std::size_t>(lags), 0.0);
        float acc[kCorrelationLags];
        for (int b = 0; b < blocks_; ++b) {
            const float* xb = x.data() + static_cast<std::size_t>(b) * static_cast<std::size_t>(block);
            CorrelateLags(xb, static_cast<std::size_t>(block), s.data() + (startOf(b) - kSpan - lo), acc);
            std::copy(acc, acc + lags, corr_.begin() + static_cast<std::ptrdiff_t>(b) * lags);
        }
        // The slave's energy under each block at each lag, from running sums.
        runningEnergy(s, run);
        energy_.assign(corr_.size(), 0.0);
        for (int b = 0; b < blocks_; ++b) {
            const std::size_t first = static_cast<std::size_t>(startOf(b) - kSpan - lo);
            for (int j = 0; j < lags; ++j)
                energy_[static_cast<std::size_t>(b * lags + j)] =
                    run[first + static_cast<std::size_t>(j) + static_cast<std::size_t>(block)] - run[first + static_cast<std::size_t>(j)];
        }
    }

    int blocks() const { return blocks_; }

    // The correlation over blocks [b0, b1) with the line s(m) = P + base + rate * (m - K),
    // normalised by the slave's energy along it; NaN where the line leaves the lags
    // measured. Unnormalised, the slave's material entering and leaving the window's
    // ends moves the peak: on clean music the points' RMS error falls from 0.028 to
    // 0.001 frame (master and slave read at the true positions).
    double score(int b0, int b1, double base, double rate) const {
        // Each block reads two table rows at its own phase, at random across the table's
        // 128 KiB: the rows are all found and fetched first, so that their loads overlap
        // instead of each dot waiting for its own (half of the measure's time).
        thread_local std::vector<BlendedRead> dots;
        dots.resize(static_cast<std::size_t>(std::max(b1 - b0, 0)));
        for (int b = b0; b < b1; ++b) {
            const double tau = lineStart(b, base, rate) - static_cast<double>(startOf(b));
            const double whole = std::floor(tau);
            const int i = static_cast<int>(whole) - static_cast<int>(table_.reach()) + kSpan;
            if (i < 0 || i + kTaps > 2 * kSpan + 1) return std::nan("");
            const double p = (tau - whole) * kSincPhases;
            const int phase = std::min(static_cast<int>(p), kSincPhases - 1);
            BlendedRead& d = dots[static_cast<std::size_t>(b - b0)];
            d.w0 = table_.row(phase);
            d.w1 = table_.row(phase + 1);
            d.a = p - phase;
            d.at = static_cast<std::size_t>(b) * (2 * kSpan + 1) + static_cast<std::size_t>(i);
            for (int line = 0; line < kTaps; line += 16) {
                __builtin_prefetch(d.w0 + line);
                __builtin_prefetch(d.w1 + line);
            }
        }
        double sum = 0.0, power = 0.0;
        BlendedDotSums(dots.data(), dots.size(), corr_.data(), energy_.data(), sum, power);
        return power > 0.0 ? sum / std::sqrt(power) : 0.0;
    }

    // The offset (frames, added to base) of the best line of the given rate over blocks
    // [b0, b1), within the lags measured; NaN where no peak lies inside them. The whole
    // lags are scanned within +-near of base first (the later passes start close to the
    // peak), and over all lags when the best of those lies at the scan's edge.
    double bestOffset(int b0, int b1, double base, double rate, double& sign, int near = kLags) const {
        double best = 0.0, bestAbs = -1.0;
        int at = 0;
        const int centre = std::clamp(static_cast<int>(std::lround(base)), -kLags, kLags);
        const bool whole = near >= kLags;
        const int lo = whole ? -kLags : std::max(centre - near, -kLags), hi = whole ? kLags : std::min(centre + near, kLags);
        std::array<double, 2 * kLags + 1> scanned;  // by lag, from -kLags
        for (int d = lo; d <= hi; ++d) {
            const double v = score(b0, b1, static_cast<double>(d), rate);
            scanned[static_cast<std::size_t>(d + kLags)] = v;
            if (!std::isfinite(v)) continue;
            if (std::fabs(v) > bestAbs) bestAbs = std::fabs(v), best = v, at = d;
        }
        if (!whole && ((at <= lo && lo > -kLags) || (at >= hi && hi < kLags))) return bestOffset(b0, b1, base, rate, sign);
        if (bestAbs <= 0.0 || at <= -kLags || at >= kLags) return std::nan("");
        sign = best < 0.0 ? -1.0 : 1.0;
        const auto f = [&](double t) { return sign * score(b0, b1, t, rate); };
        double t = static_cast<double>(at);
        // A band-limited correlation is a parabola near its peak to within the step's
        // fourth power: each finer step takes the vertex ten times closer.
        // The first step's three lags were scanned (the best lies inside the scan).
        const auto lag = [&](int d) { return sign * scanned[static_cast<std::size_t>(d + kLags)]; };
        for (double h : {1.0, 0.1, 0.01}) {
            const bool first = h == 1.0;
            const double a = first ? lag(at - 1) : f(t - h), b = first ? lag(at) : f(t), c = first ? lag(at + 1) : f(t + h);
            if (!std::isfinite(a) || !std::isfinite(c)) return std::nan("");
            const double curve = a - 2.0 * b + c;
            if (curve < 0.0) t += std::clamp(0.5 * h * (a - c) / curve, -h, h);
        }
        return t - base;
    }

private:
    FrameIndex masterStart(int b) const { return C_ - static_cast<FrameIndex>(blocks_) / 2 * block_ + b * block_; }
    // The slave frame where block b starts on the line, with the block read at slope 1
    // about its middle.
    double lineStart(int b, double base, double rate) const {
        return P_ + base + rate * middle_[static_cast<std::size_t>(b)] - 0.5 * static_cast<double>(block_);
    }
    FrameIndex startOf(int b) const { return start_[static_cast<std::size_t>(b)]; }

    FrameIndex C_, K_, block_;
    double P_, rate_;
    const SincTable& table_;
    int blocks_ = 0;
    std::vector<double> middle_;     // each block's middle, master frames from K
    std::vector<FrameIndex> start_;  // each block's first slave frame on the first line
    std::vector<double> corr_;    // blocks x (2 kSpan + 1), lag -kSpan first
    std::vector<double> energy_;  // the same for the slave's energy under the block
};

}  // namespace

double SubFrameLineSpan(std::uint32_t sampleRate) { return kHalfWindowSeconds / 2.0 * sampleRate; }

double SubFrameOffset(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P,
                      bool* measured) {
    if (measured) *measured = false;
    const TimeBase time(master.SampleRate);
    // Near either end of the master the window moves inside it, and the line measured
    // there is followed to K: a chain's last point (often the master's last frame) ends
    // the map's extrapolated tail.
    FrameIndex half = std::min(time.Seconds(kHalfWindowSeconds), master.FrameCount / 2);
    // P may lie a little past the slave's end (the master's last frame on a slower
    // slave): the window lies inside both files.
    if (half < time.Seconds(kHalfWindowSeconds / 10) || K < 0 || K > master.FrameCount || P < 0 ||
        P > slave.FrameCount + half)
        return 0.0;
    // The segment may lie on either side of K (a chain's first point is measured with
    // the segment after it).
    double rate = K != J && (P - N) * (K - J) > 0 ? static_cast<double>(P - N) / static_cast<double>(K - J) : 1.0;
    rate = std::clamp(rate, 0.5, kSincMaxRate);

    // Four quarters of whole blocks: the window's halves correct the rate, its middle
    // half measures the offset.
    const double smear = std::fabs(rate - 1.0);
    FrameIndex block = smear > 0.0 ? static_cast<FrameIndex>(kBlockSmearFrames / smear) : kMaxBlock;
    block = std::clamp<FrameIndex>(block, kMinBlock, kMaxBlock);
    const FrameIndex quarter = half / 2;
    const FrameIndex perQuarter = std::max<FrameIndex>((quarter + block - 1) / block, 1);
    block = std::max<FrameIndex>(quarter / perQuarter, 1);
    half = 2 * perQuarter * block;
    const FrameIndex C = std::clamp(K, half, master.FrameCount - half);
    const BlockCorrelation corr(master, slave, C, K, half, block, static_cast<double>(P), rate);
    const int q = static_cast<int>(perQuarter);
    if (corr.blocks() != 4 * q) return 0.0;

    // The segment's rate is only known to a frame or two over its length, which would
    // put the window's edges up to half a frame off: each half measures its own offset
    // first, their difference corrects the rate, and the middle half then measures the
    // offset at K along the corrected line (the whole window would carry four times the
    // bias of a rate that changes within it, 0.03 frame under a 0.1 % wow of 40 s).
    double base = 0.0, sign = 1.0;
    const double spacing = static_cast<double>(2 * q * block);
    // Once a pass has placed the line, the peak lies within a frame or two of it.
    int near = kLags;
    for (int pass = 0; pass < kRatePasses; ++pass) {
        const double early = corr.bestOffset(0, 2 * q, base, rate, sign, near);
        const double late = corr.bestOffset(2 * q, 4 * q, base, rate, sign, near);
        if (!std::isfinite(early) || !std::isfinite(late) || std::fabs(late - early) >= kLags) break;
        base += (early + late) / 2.0;
        rate = std::clamp(rate + (late - early) / spacing, 0.5, kSincMaxRate);
        near = 2;
        if (std::fabs(late - early) < 0.002) break;
    }
    const double offset = corr.bestOffset(q, 3 * q, base, rate, sign, near);
    if (!std::isfinite(offset)) return 0.0;
    if (measured) *measured = true;
    return std::clamp(base + offset, -kSubFrameReach, kSubFrameReach);
}

namespace {

// The correlation of the master's window about K with the slave along a line through P
// at a rate, at whole lags within +-kLocalEndReach, for the window's two halves apart.
struct LocalCorrelation {
    static constexpr int kLags = 2 * kLocalEndReach + 1;
    std::array<double, kLags> c[2]{}, e[2]{};
    double power[2]{};

    LocalCorrelation(const std::vector<float>& x, FrameIndex K, FrameIndex half, FrameIndex block, const std::vector<float>& s,
                     const std::vector<double>& run, FrameIndex lo, FrameIndex P, double rate) {
        const int blocks = static_cast<int>(2 * (half / block));
        float acc[kCorrelationLags];
        std::int64_t whole[2]{};
        for (int b = 0; b < blocks; ++b) {
            const int h = 2 * b < blocks ? 0 : 1;
            const FrameIndex m = K - half + b * block;
            const FrameIndex start = P + std::llround(rate * static_cast<double>(m + block / 2 - K)) - block / 2 - kLocalEndReach;
            const float* xb = x.data() + static_cast<std::size_t>(b) * static_cast<std::size_t>(block);
            const std::size_t at = static_cast<std::size_t>(start - lo);
            CorrelateLags(xb, static_cast<std::size_t>(block), s.data() + at, acc);
            for (std::size_t j = 0; j < kLags; ++j) {
                c[h][j] += acc[j];
                e[h][j] += run[at + j + static_cast<std::size_t>(block)] - run[at + j];
            }
            for (FrameIndex k = 0; k < block; ++k) {
                const auto v = static_cast<std::int64_t>(xb[k]);
                whole[h] += v * v;
            }
        }
        for (int h = 0; h < 2; ++h) power[h] = static_cast<double>(whole[h]);  // exact, as in runningEnergy
    }

    // The peak over halves [h0, h1]: its offset from the line and its height. False
    // where the best lies at the reach's edge.
    bool peak(int h0, int h1, double& offset, double& height) const {
        std::array<double, kLags> r{};
        double p = 0.0;
        for (int h = h0; h <= h1; ++h) p += power[h];
        int best = 0;
        for (std::size_t j = 0; j < kLags; ++j) {
            double cj = 0.0, ej = 0.0;
            for (int h = h0; h <= h1; ++h) cj += c[h][j], ej += e[h][j];
            r[j] = ej > 0.0 && p > 0.0 ? cj / std::sqrt(ej * p) : 0.0;
            if (std::fabs(r[j]) > std::fabs(r[static_cast<std::size_t>(best)])) best = static_cast<int>(j);
        }
        // An inverted slave correlates negatively throughout.
        const double sign = r[static_cast<std::size_t>(best)] < 0.0 ? -1.0 : 1.0;
        height = sign * r[static_cast<std::size_t>(best)];
        if (best == 0 || best == kLags - 1 || height <= 0.0) return false;
        const double a = sign * r[static_cast<std::size_t>(best - 1)], b = sign * r[static_cast<std::size_t>(best + 1)];
        const double curve = a - 2.0 * height + b;
        const double vertex = curve < 0.0 ? std::clamp(0.5 * (a - b) / curve, -0.5, 0.5) : 0.0;
        offset = static_cast<double>(best - kLocalEndReach) + vertex;
        return true;
    }
};

}  // namespace

LocalEnd LocalEndOffset(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex P, double rate, bool emphasised) {
    LocalEnd found;
    const TimeBase time(master.SampleRate);
    const FrameIndex half = time.Seconds(kLocalHalfSeconds);
    // Clamped before the slave's span is sized from it (a knot's predicted rate can be
    // anything); the rate may then be corrected by up to kLocalRateFix, which the span covers.
    if (!std::isfinite(rate)) return found;
    rate = std::clamp(rate, 0.5, kSincMaxRate);
    const FrameIndex spread = static_cast<FrameIndex>(std::ceil((rate + kLocalRateFix) * static_cast<double>(half))) + 2;
    // A point within half a window of a file's end (a chain's last one) is measured on a
    // window moved inside both files by up to a window's length, and carried to K at the
    // measured rate. A tape's wow (250 frames/s^2) bends the line over a window by at most
    // 0.5 * 250 * 0.1^2 = 1.25 frames, where the search's own end there is unchecked
    // (the kit's cassette: 9 frames off).
    const FrameIndex before = spread + kLocalEndReach, after = spread + kMaxBlock + kCorrelationLags;
    const double lowest = std::max(static_cast<double>(half - K), (static_cast<double>(before - P)) / rate);
    const double highest = std::min(static_cast<double>(master.FrameCount - half - K),
                                    static_cast<double>(slave.FrameCount - after - P) / rate);
    if (!(std::ceil(lowest) <= std::floor(highest))) return found;
    const auto moved = static_cast<FrameIndex>(std::clamp(0.0, std::ceil(lowest), std::floor(highest)));
    if (std::llabs(moved) > 2 * half) return found;
    const double exactP = static_cast<double>(P) + rate * static_cast<double>(moved);
    const FrameIndex shiftedP = std::llround(exactP);
    const double givenRate = rate;
    K += moved;
    P = shiftedP;
    // Blocks short enough that reading each at slope 1 smears it by at most half a frame
    // (an even number of them, for the halves).
    const auto blockFor = [](double r) {
        return std::clamp<FrameIndex>(static_cast<FrameIndex>(0.5 / std::max(std::fabs(r - 1.0), 1e-9)), kMinBlock, kMaxBlock);
    };
    const FrameIndex block = blockFor(rate);
    const FrameIndex blocks = 2 * (half / block);
    thread_local std::vector<float> x, s;
    thread_local std::vector<double> run;
    monoSum(master, K - half - 1, K + half, x);
    const FrameIndex lo = P - spread - kLocalEndReach - 1;
    monoSum(slave, lo - 1, P + spread + kMaxBlock + kCorrelationLags, s);
    // Each read starts a frame early for the difference; the plain measure drops it.
    const auto shape = [&](std::vector<float>& v) {
        if (emphasised)
            for (std::size_t k = v.size() - 1; k > 0; --k) v[k] -= v[k - 1];
        v.erase(v.begin());
    };
    shape(x);
    shape(s);
    runningEnergy(s, run);
    // The given rate is only roughly the local one (a track's, read over a second or more
    // of wow): the halves' offsets correct it once, so that the window's ends do not smear.
    LocalCorrelation first(x, K, half, block, s, run, lo, P, rate);
    double early = 0.0, late = 0.0, height = 0.0, offset = 0.0;
    // Halves within half a frame of each other smear the window by less than the blocks
    // do: the first pass stands, unless the window was moved, where the rate carries its
    // offset to K.
    bool again = false;
    if (first.peak(0, 0, early, height) && first.peak(1, 1, late, height) &&
        (std::fabs(late - early) >= 0.5 || moved != 0)) {
        const double fix = (late - early) / static_cast<double>(blocks * block / 2);
        rate = std::clamp(rate + std::clamp(fix, -kLocalRateFix, kLocalRateFix), 0.5, kSincMaxRate);
        again = true;
    }
    if (again) {
        const LocalCorrelation second(x, K, half, blockFor(rate), s, run, lo, P, rate);
        if (!second.peak(0, 1, offset, height)) return found;
    } else if (!first.peak(0, 1, offset, height)) {
        return found;
    }
    found.measured = true;
    // From the moved window's line back to K's: the line's rounding, and the rate's
    // correction over the move.
    found.offset = offset + (static_cast<double>(shiftedP) - exactP) - (rate - givenRate) * static_cast<double>(moved);
    found.peak = height;
    return found;
}

namespace {

// Where the rate bends within a segment (a speed control moved, a clock re-locked) the
// cubic through the points misses the bend by up to an eighth of the rate's change
// times the segment (1.7 frames for 0.08 % within 0.1 s at 0.2 s spacing), and rings
// into the segments beside it. A cubic takes a steady curve (wow, a slow wobble) as it
// is; what it misses is the change of the curve: each segment's figure is the largest
// change of the rate's change about it, times an eighth of its length (frames).
// Under a 0.05 % wobble of 55 s that is 0.0003 frame, from the points' own noise (0.01
// frame) 0.004; a bend counts where it passes 0.05 frame and four times the median
// figure of the 20 segments about it, so that noisy points (far microphones) do not
// count as bends everywhere.
constexpr double kBendFrames = 0.05;
constexpr double kBendOverNoise = 4.0;
constexpr std::size_t kBendNeighbours = 10;
constexpr FrameIndex kBendKnots = 4;  // segments a bend's segment is cut into
constexpr double kKnotAgreeFrames = 1.0;

std::vector<bool> sharpBends(const std::vector<FrameIndex>& x, const std::vector<double>& y) {
    const std::size_t segments = x.size() - 1;
    std::vector<double> rate(segments), change(segments + 1, 0.0), figure(segments, 0.0);
    for (std::size_t i = 0; i < segments; ++i) rate[i] = (y[i + 1] - y[i]) / static_cast<double>(x[i + 1] - x[i]);
    for (std::size_t k = 1; k < segments; ++k) change[k] = rate[k] - rate[k - 1];  // at point k
    for (std::size_t i = 0; i < segments; ++i) {
        double most = 0.0;
        for (std::size_t k = std::max<std::size_t>(i, 2); k <= std::min(i + 2, segments - 1); ++k)
            most = std::max(most, std::fabs(change[k] - change[k - 1]));
        figure[i] = most * static_cast<double>(x[i + 1] - x[i]) / 8.0;
        if (!std::isfinite(figure[i])) figure[i] = 0.0;  // a point that does not advance
    }
    std::vector<bool> bends(segments, false);
    std::vector<double> near;
    for (std::size_t i = 0; i < segments; ++i) {
        if (figure[i] <= kBendFrames) continue;
        near.assign(figure.begin() + static_cast<std::ptrdiff_t>(i > kBendNeighbours ? i - kBendNeighbours : 0),
                    figure.begin() + static_cast<std::ptrdiff_t>(std::min(segments, i + kBendNeighbours + 1)));
        std::nth_element(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(near.size() / 2), near.end());
        bends[i] = figure[i] > kBendOverNoise * near[near.size() / 2];
    }
    return bends;
}

}  // namespace

void AddInteriorKnots(KWavefile& master, KWavefile& slave, std::vector<FrameIndex>& masterPoints,
                      std::vector<double>& slavePoints, FrameIndex edgeSpan) {
    const std::size_t n = std::min(masterPoints.size(), slavePoints.size());
    if (n < 3) return;
    std::vector<FrameIndex> lengths;
    for (std::size_t i = 1; i < n; ++i) lengths.push_back(masterPoints[i] - masterPoints[i - 1]);
    std::nth_element(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2), lengths.end());
    const FrameIndex usual = lengths[lengths.size() / 2];
    if (usual < kBendKnots) return;
    const TimeMap map(masterPoints, slavePoints, edgeSpan, SubFrameLineSpan(master.SampleRate));
    const std::vector<bool> bends = sharpBends(masterPoints, slavePoints);
    // The measure's sign follows the material: phase flags are left out of its reads
    // (and out of the log, which would get a line a read).
    const int masterFlags = master.ChannelFlags, slaveFlags = slave.ChannelFlags;
    master.ChannelFlags = slave.ChannelFlags = 0;
    std::vector<FrameIndex> m;
    std::vector<double> s;
    for (std::size_t i = 0; i < n; ++i) {
        m.push_back(masterPoints[i]);
        s.push_back(slavePoints[i]);
        if (i + 1 == n) continue;
        const FrameIndex length = masterPoints[i + 1] - masterPoints[i];
        const bool longOne = length > 2 * usual;
        if (!longOne && !bends[i]) continue;
        // A break (a pause, lost material) is read straight; beside one, the measure's
        // window would straddle it, and the change of rate there is the break's.
        bool nearBreak = false;
        for (std::size_t k = i > 2 ? i - 2 : 0; k <= std::min(i + 2, n - 2) && !nearBreak; ++k)
            nearBreak = (k == i || !longOne) && map.BreakAt(0.5 * static_cast<double>(masterPoints[k] + masterPoints[k + 1]));
        if (nearBreak) continue;
        const FrameIndex spacing = longOne ? usual : length / kBendKnots;
        // Each knot is predicted from the one before it at the rate of the last step, so
        // that a curve the map through the ends misses by more than the measure's reach
        // is still followed (69 frames/s^2, a 0.2 % wobble of 8 s, is 1.4 frames a step).
        double lastM = static_cast<double>(masterPoints[i]), lastS = slavePoints[i];
        double rate = (map.At(lastM + 1.0) - map.At(lastM - 1.0)) / 2.0;
        for (FrameIndex k = masterPoints[i] + spacing; k <= masterPoints[i + 1] - spacing / 2; k += spacing) {
            const double predicted = lastS + rate * (static_cast<double>(k) - lastM);
            const FrameIndex P = std::llround(predicted);
            // Measured along the usual spacing: a shorter segment would tell its rate worse.
            const FrameIndex J = k - usual;
            const FrameIndex N = std::llround(predicted - rate * static_cast<double>(usual));
            bool found = false;
            const double offset = SubFrameOffset(master, slave, J, k, N, P, &found);
            // An offset at the reach's edge is no peak of its own.
            if (!found || std::fabs(offset) >= kSubFrameReach - 1.0) continue;
            const double at = static_cast<double>(P) + offset;
            // Reverberation pulls the plain correlation towards the reflections (speech
            // in a hall: its knots cost pub_speech_pauses 1.4 % of its output's windows);
            // where the same measure on the signals' differences parts from the knot by
            // more than a frame, the knot is left out.
            const FrameIndex near = std::llround(at);
            const LocalEnd sharp = LocalEndOffset(master, slave, k, near, rate, true);
            if (sharp.measured && std::fabs(static_cast<double>(near) + sharp.offset - at) > kKnotAgreeFrames) continue;
            rate = (at - lastS) / (static_cast<double>(k) - lastM);
            lastM = static_cast<double>(k);
            lastS = at;
            m.push_back(k);
            s.push_back(at);
        }
    }
    master.ChannelFlags = masterFlags;
    slave.ChannelFlags = slaveFlags;
    masterPoints = std::move(m);
    slavePoints = std::move(s);
}

}  // namespace tandem
