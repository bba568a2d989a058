#include "sync/EndAnchor.h"

#include <algorithm>
#include <cmath>

#include "core/TimeBase.h"
#include "sync/SignalMatch.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

constexpr double kQuickMinR = 0.3;
constexpr double kMinR = 0.5;
// How far a followed match may move from one window to the next.
constexpr double kFollowSlackSeconds = 0.0002;

// Lengths in frames at 44.1 kHz, taken at the master's rate.
struct EndFrames {
    FrameIndex around;       // +-0.2 s of master around the end
    int reach;               // 64 frames either side of the chain's end
    FrameIndex quickAround;  // the quick look: +-50 ms
    double quickShift;       // 1.5 frames: estimated distance of the peak that calls for the full search
    int minShift;            // 3 frames

    explicit EndFrames(const KWavefile& master) {
        const TimeBase time(master.SampleRate);
        around = time.Frames(8820);
        reach = static_cast<int>(time.Frames(64));
        quickAround = time.Frames(2205);
        quickShift = time.Scale(1.5);
        minShift = static_cast<int>(time.Frames(3));
    }
};

// The master around K, stretched by the segment's rate about K: pattern value i lies
// at slave frame P - half + i when the chain's end is right; the slave from P - half -
// reach on, so that lag `reach` is the chain's end.
struct EndPair {
    std::vector<double> pattern, region;
};

EndPair spansAround(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex P, double rate, FrameIndex around,
                    int reach) {
    const FrameIndex half = static_cast<FrameIndex>(std::llround(static_cast<double>(around) * rate));
    const std::vector<double> masterSpan = ReadMono(master, K - around - 2, K + around + 2);
    const double from = static_cast<double>(around + 2) - static_cast<double>(half) / rate;
    return {Stretch(masterSpan, from, 1.0 / rate, static_cast<std::size_t>(2 * half)),
            ReadMono(slave, P - half - reach, P + half + reach)};
}

double segmentRate(FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P) {
    return static_cast<double>(P - N) / static_cast<double>(K - J);
}

// Band-limited, decimated r of the master around K (+-around, stretched by rate) against
// the slave about centre, for lags -R .. R in steps of the decimation (R a multiple of
// it); empty when the spans cannot be read.
std::vector<double> bandCorrelations(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex centre, double rate,
                                     FrameIndex around, FrameIndex R) {
    const BandDecimator& band = BandFor(master.SampleRate);
    const FrameIndex dec = band.Decimation(), margin = band.Margin();
    const FrameIndex half = std::llround(static_cast<double>(around) * rate);
    const FrameIndex masterAround = around + static_cast<FrameIndex>(std::ceil(static_cast<double>(margin) / rate)) + 2;
    const std::vector<double> masterSpan = ReadMono(master, K - masterAround, K + masterAround);
    const double from = static_cast<double>(masterAround) - static_cast<double>(half + margin) / rate;
    const std::vector<double> pattern =
        band.Apply(Stretch(masterSpan, from, 1.0 / rate, static_cast<std::size_t>(2 * (half + margin))));
    const std::vector<double> region = band.Apply(ReadMono(slave, centre - half - R - margin, centre + half + R + margin));
    const int lags = static_cast<int>(2 * R / dec + 1);
    if (pattern.empty() || region.size() + 1 < pattern.size() + static_cast<std::size_t>(lags)) return {};
    return Correlations(pattern, region, lags);
}

// Of near-equal peaks (lags of r, nearest centre first) the one whose match holds best
// over the next follow frames of master: windows of the same length one after the other,
// each peak followed from window to window within a small slack (the clocks' rates
// drift a little). Within one sustained note the peaks a pitch period apart match alike;
// where the notes change only the true one goes on matching.
int followed(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex centre, double rate, FrameIndex around,
             FrameIndex R, const std::vector<double>& r, const std::vector<int>& peaks, FrameIndex follow) {
    const FrameIndex dec = BandFor(master.SampleRate).Decimation();
    const FrameIndex stepFrames = 2 * around;
    const double slackFrames = kFollowSlackSeconds * TimeBase(master.SampleRate).Rate();
    const int slack = std::max(1, static_cast<int>(std::ceil(slackFrames / static_cast<double>(dec))));
    std::vector<double> score(peaks.size());
    std::vector<int> at(peaks.size());  // each peak's lag, in decimated steps from the window's centre
    for (std::size_t p = 0; p < peaks.size(); ++p) {
        score[p] = std::fabs(r[static_cast<std::size_t>(peaks[p])]);
        at[p] = peaks[p] - static_cast<int>(R / dec);
    }
    const FrameIndex windows = std::max<FrameIndex>(follow / stepFrames, 1);
    for (FrameIndex k = 1; k <= windows; ++k) {
        const FrameIndex Rk = R + k * slack * dec;
        const std::vector<double> rk = bandCorrelations(master, slave, K + k * stepFrames,
                                                        centre + std::llround(static_cast<double>(k * stepFrames) * rate),
                                                        rate, around, Rk);
        if (rk.empty()) break;
        const int mid = static_cast<int>(Rk / dec);
        for (std::size_t p = 0; p < peaks.size(); ++p) {
            int best = at[p];
            const auto value = [&](int lag) { return std::fabs(rk[static_cast<std::size_t>(lag + mid)]); };
            for (int j = at[p] - slack; j <= at[p] + slack; ++j)
                if (value(j) > value(best)) best = j;
            score[p] += value(best);
            at[p] = best;
        }
    }
    std::size_t pick = 0;
    for (std::size_t p = 1; p < peaks.size(); ++p)
        if (score[p] > score[pick]) pick = p;
    return peaks[pick];
}

}  // namespace

EndAnchor AnchorSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                           FrameIndex P) {
    EndAnchor anchor;
    if (K <= J || P <= N) return anchor;
    const EndFrames f(master);
    const EndPair spans = spansAround(master, slave, K, P, segmentRate(J, K, N, P), f.around, f.reach);
    LagPeak peak = BestCorrelation(spans.pattern, spans.region, 2 * f.reach + 1);
    peak.lag -= f.reach;
    // A peak at the edge of the reach may belong to a match beyond it.
    if (std::fabs(peak.lag) >= f.reach) return anchor;
    const int shift = static_cast<int>(std::lround(peak.lag));
    if (std::fabs(peak.r) < kMinR || std::abs(shift) < f.minShift) return anchor;
    anchor.shift = shift;
    anchor.r = peak.r;
    return anchor;
}

EndAnchor CheckSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                          FrameIndex P) {
    if (K <= J || P <= N) return {};
    // |r| one frame either side of the end: a parabola through them says how far the
    // peak lies, and whether the full search is worth its time.
    const EndFrames f(master);
    const std::vector<double> r = EndCorrelations(master, slave, K, P, segmentRate(J, K, N, P), f.quickAround, 1);
    const double y0 = std::fabs(r[0]), y1 = std::fabs(r[1]), y2 = std::fabs(r[2]);
    EndAnchor quick;
    quick.endR = y1;
    if (std::max({y0, y1, y2}) < kQuickMinR) return quick;
    const double d = y0 - 2.0 * y1 + y2;
    if (d < 0.0 && std::fabs(0.5 * (y0 - y2) / d) < f.quickShift) return quick;
    EndAnchor full = AnchorSegmentEnd(master, slave, J, K, N, P);
    full.endR = full.shift != 0 ? EndCorrelation(master, slave, J, K, N, P + full.shift) : y1;
    return full;
}

double EndCorrelation(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P) {
    if (K <= J || P <= N) return 0.0;
    return std::fabs(EndCorrelations(master, slave, K, P, segmentRate(J, K, N, P), EndFrames(master).quickAround, 1)[1]);
}

std::vector<double> EndCorrelations(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex P, double rate,
                                    FrameIndex around, int reach) {
    const EndPair spans = spansAround(master, slave, K, P, rate, around, reach);
    return Correlations(spans.pattern, spans.region, 2 * reach + 1);
}

EndMatch FindEndNear(KWavefile& master, KWavefile& slave, FrameIndex K, FrameIndex centre, double rate, FrameIndex around,
                     FrameIndex reach, double nearEqual, FrameIndex follow) {
    const FrameIndex dec = BandFor(master.SampleRate).Decimation();
    const FrameIndex R = (std::max<FrameIndex>(reach, dec) + dec - 1) / dec * dec;
    EndMatch match{centre, 0.0};
    const std::vector<double> r = bandCorrelations(master, slave, K, centre, rate, around, R);
    if (r.empty()) return match;
    double top = 0.0;
    for (double v : r) top = std::max(top, std::fabs(v));
    if (top <= 0.0) return match;
    // The near-equal peaks, nearest centre first (the lower lag of two as near).
    std::vector<int> peaks;
    const int lags = static_cast<int>(r.size()), middle = lags / 2;
    for (int i = 0; i < lags; ++i) {
        const double v = std::fabs(r[static_cast<std::size_t>(i)]);
        const bool peak = (i == 0 || v >= std::fabs(r[static_cast<std::size_t>(i - 1)])) &&
                          (i + 1 == lags || v >= std::fabs(r[static_cast<std::size_t>(i + 1)]));
        if (peak && v >= nearEqual * top) peaks.push_back(i);
    }
    std::stable_sort(peaks.begin(), peaks.end(), [&](int a, int b) { return std::abs(a - middle) < std::abs(b - middle); });
    int pick = peaks.front();
    if (peaks.size() > 1 && follow > 0) pick = followed(master, slave, K, centre, rate, around, R, r, peaks, follow);
    const FrameIndex coarse = centre - R + dec * pick;
    const std::vector<double> fine = EndCorrelations(master, slave, K, coarse, rate, around, static_cast<int>(dec));
    int best = 0;
    for (int i = 1; i < static_cast<int>(fine.size()); ++i)
        if (std::fabs(fine[static_cast<std::size_t>(i)]) > std::fabs(fine[static_cast<std::size_t>(best)])) best = i;
    match.slaveEnd = coarse + best - dec;
    match.r = std::fabs(fine[static_cast<std::size_t>(best)]);
    return match;
}

}  // namespace tandem
