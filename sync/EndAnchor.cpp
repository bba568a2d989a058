#include "sync/EndAnchor.h"

#include <algorithm>
#include <cmath>

#include "sync/SignalMatch.h"

namespace tandem {
namespace {

constexpr FrameIndex kAround = 8820;      // +-0.2 s of master around the end
constexpr int kReach = 64;                // frames either side of the chain's end
constexpr FrameIndex kQuickAround = 2205; // the quick look: +-50 ms
constexpr double kQuickMinR = 0.3;
constexpr double kQuickShift = 1.5;       // estimated distance of the peak that calls for the full search
constexpr double kMinR = 0.5;
constexpr int kMinShift = 3;

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

}  // namespace

EndAnchor AnchorSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                           FrameIndex P) {
    EndAnchor anchor;
    if (K <= J || P <= N) return anchor;
    const EndPair spans = spansAround(master, slave, K, P, segmentRate(J, K, N, P), kAround, kReach);
    LagPeak peak = BestCorrelation(spans.pattern, spans.region, 2 * kReach + 1);
    peak.lag -= kReach;
    // A peak at the edge of the reach may belong to a match beyond it.
    if (std::fabs(peak.lag) >= kReach) return anchor;
    const int shift = static_cast<int>(std::lround(peak.lag));
    if (std::fabs(peak.r) < kMinR || std::abs(shift) < kMinShift) return anchor;
    anchor.shift = shift;
    anchor.r = peak.r;
    return anchor;
}

EndAnchor CheckSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                          FrameIndex P) {
    if (K <= J || P <= N) return {};
    // |r| one frame either side of the end: a parabola through them says how far the
    // peak lies, and whether the full search is worth its time.
    const EndPair spans = spansAround(master, slave, K, P, segmentRate(J, K, N, P), kQuickAround, 1);
    const std::vector<double> r = Correlations(spans.pattern, spans.region, 3);
    const double y0 = std::fabs(r[0]), y1 = std::fabs(r[1]), y2 = std::fabs(r[2]);
    if (std::max({y0, y1, y2}) < kQuickMinR) return {};
    const double d = y0 - 2.0 * y1 + y2;
    if (d < 0.0 && std::fabs(0.5 * (y0 - y2) / d) < kQuickShift) return {};
    return AnchorSegmentEnd(master, slave, J, K, N, P);
}

}  // namespace tandem
